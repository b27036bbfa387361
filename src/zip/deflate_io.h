// The byte source and sink a Deflate stream is read from and written to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zip {

class Deflate_Source {
 public:
  // Fills up to `size` bytes; fewer only at the end of the data. Returns 0
  // at the end, and also on a read error, which the source remembers.
  virtual size_t read(uint8_t* buffer, size_t size) = 0;

 protected:
  ~Deflate_Source() = default;
};

class Deflate_Sink {
 public:
  // Writes all bytes or fails.
  virtual bool write(const uint8_t* data, size_t size) = 0;

 protected:
  ~Deflate_Sink() = default;
};

}  // namespace Zip
