#include "support/allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_fail_from{0};

}  // namespace

namespace Test_Support {

void fail_allocations_from(size_t bytes) { g_fail_from = bytes; }

}  // namespace Test_Support

void* operator new(size_t size) {
  const size_t limit = g_fail_from;
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
