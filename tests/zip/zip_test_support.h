// Helpers shared by the native archive tests: memory sources and sinks and
// a zlib inflater to check our Deflate against a reader we did not write.
#pragma once

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "zip/deflate_io.h"
#include "zip/deflater.h"
#include "zip/memory_source.h"

namespace Zip {

class Memory_Sink final : public Deflate_Sink {
 public:
  bool write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
};

inline std::vector<uint8_t> deflate_bytes(const std::vector<uint8_t>& input, int level = 8,
                                          Match_Search search = Match_Search::skip_by_long_key) {
  Memory_Source source(input.data(), input.size());
  Memory_Sink sink;
  const Deflate_Result result = deflate_stream(source, sink, level, search);
  if (!result.ok) throw std::runtime_error("deflate failed: " + result.error);
  if (result.compressed_size != sink.bytes.size()) throw std::runtime_error("size mismatch");
  return sink.bytes;
}

// Raw inflate with zlib; throws unless the stream is complete and valid.
inline std::vector<uint8_t> inflate_raw(const std::vector<uint8_t>& compressed, size_t expected) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::runtime_error("inflateInit2");
  std::vector<uint8_t> out(expected + 1);
  z.next_in = const_cast<Bytef*>(compressed.data());
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  const size_t unused = z.avail_in;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("inflate: " + std::to_string(rc));
  if (unused != 0) throw std::runtime_error("trailing bytes after the final block");
  out.resize(produced);
  return out;
}

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace Zip
