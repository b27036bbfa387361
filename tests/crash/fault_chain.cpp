#include "fault_chain.h"

namespace {

volatile int* volatile g_chain_null = nullptr;
volatile int g_sink = 0;

#ifdef DROVAN_SHIFTED_CHAIN
// Code ahead of the chain, so the same chain lies at other offsets in this
// build: its crash must still get the same signature once named. The table
// makes the image larger, so the two builds never share a symbol store's
// key (time stamp and image size) even when linked in the same second.
__attribute__((used)) const unsigned char g_larger_image[64 * 1024] = {1};

__attribute__((noinline, used)) int shift_the_chain(int value) {
  for (int i = 0; i < value; ++i) g_sink = g_sink * 31 + i;
  for (int i = 0; i < value; ++i) g_sink = g_sink ^ (i << 3);
  for (int i = 0; i < value; ++i) g_sink = g_sink + i * 7;
  return g_sink;
}
#endif

}  // namespace

// Each call is followed by work of its own, so no call becomes a jump and
// every function keeps a frame on the stack.
__attribute__((noinline)) int fault_chain_third(int depth) {
  *g_chain_null = depth;
  return g_sink + depth;
}

__attribute__((noinline)) int fault_chain_second(int depth) {
  const int result = fault_chain_third(depth + 1);
  g_sink = result;
  return result + 1;
}

__attribute__((noinline)) int fault_chain_first(int depth) {
  const int result = fault_chain_second(depth + 1);
  g_sink = result;
  return result + 1;
}
