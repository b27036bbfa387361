// Compresses arbitrary input with our Deflate at a level taken from the
// first byte, checks that zlib inflates it back to the input, and that the
// long-key match search gives the bytes of the plain chain walk. With the
// first byte's top bit set, the input is repeated to some 80 KB with one
// byte changed per copy, for long hash chains and window slides. A failed
// check throws, and libFuzzer reports the uncaught exception.
#include <cstdint>
#include <vector>

#include "zip_test_support.h"

namespace {

std::vector<uint8_t> repeated(const uint8_t* data, size_t size) {
  std::vector<uint8_t> v;
  if (size == 0) return v;
  for (size_t copy = 0; v.size() < 80000; ++copy) {
    const size_t at = v.size();
    v.insert(v.end(), data, data + size);
    v[at + copy % size] ^= static_cast<uint8_t>(copy | 1);
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int level = size == 0 ? 8 : 1 + data[0] % 8;
  const std::vector<uint8_t> input =
      size != 0 && (data[0] & 0x80) != 0 ? repeated(data + 1, size - 1)
                                         : std::vector<uint8_t>(data, data + size);
  const auto compressed = Zip::deflate_bytes(input, level, Zip::Match_Search::skip_by_long_key);
  if (Zip::deflate_bytes(input, level, Zip::Match_Search::every_chain_entry) != compressed) {
    __builtin_trap();
  }
  if (Zip::inflate_raw(compressed, input.size()) != input) __builtin_trap();
  return 0;
}
