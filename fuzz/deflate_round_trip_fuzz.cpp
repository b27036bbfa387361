// Compresses arbitrary input with our Deflate at a level taken from the
// first byte and checks that zlib inflates it back to the input.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int level = size == 0 ? 8 : 1 + data[0] % 8;
  Zip::Memory_Source source(data, size);
  Sink sink;
  const Zip::Deflate_Result result = Zip::deflate_stream(source, sink, level);
  if (!result.ok || result.compressed_size != sink.bytes.size()) __builtin_trap();

  std::vector<uint8_t> out(size + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) __builtin_trap();
  z.next_in = sink.bytes.data();
  z.avail_in = static_cast<uInt>(sink.bytes.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || produced != size || z.avail_in != 0) __builtin_trap();
  if (size != 0 && std::memcmp(out.data(), data, size) != 0) __builtin_trap();
  return 0;
}
