// Compresses arbitrary input with our Deflate at a level taken from the
// first byte, checks that zlib inflates it back to the input, and that the
// long-key match search gives the bytes of the plain chain walk. With the
// first byte's top bit set, the input is repeated to some 80 KB with one
// byte changed per copy, for long hash chains and window slides.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "zip/deflater.h"
#include "zip/memory_source.h"

namespace {

class Sink final : public Zip::Deflate_Sink {
 public:
  bool write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> compress(const std::vector<uint8_t>& input, int level, Zip::Match_Search search) {
  Zip::Memory_Source source(input.data(), input.size());
  Sink sink;
  const Zip::Deflate_Result result = Zip::deflate_stream(source, sink, level, search);
  if (!result.ok || result.compressed_size != sink.bytes.size()) __builtin_trap();
  return std::move(sink.bytes);
}

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
  const std::vector<uint8_t> compressed =
      compress(input, level, Zip::Match_Search::skip_by_long_key);
  if (compress(input, level, Zip::Match_Search::every_chain_entry) != compressed) __builtin_trap();

  std::vector<uint8_t> out(input.size() + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) __builtin_trap();
  z.next_in = const_cast<Bytef*>(compressed.data());
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || produced != input.size() || z.avail_in != 0) __builtin_trap();
  if (!input.empty() && std::memcmp(out.data(), input.data(), input.size()) != 0) __builtin_trap();
  return 0;
}
