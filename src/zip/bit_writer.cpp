#include "zip/bit_writer.h"

#include <algorithm>
#include <cstring>

namespace Zip {

void Bit_Writer::put_bytes(const uint8_t* data, size_t size) {
  while (size > 0) {
    if (pos_ == kBufferSize) flush_buffer();
    const size_t n = std::min(size, kBufferSize - pos_);
    std::memcpy(buffer_ + pos_, data, n);
    pos_ += n;
    data += n;
    size -= n;
  }
}

bool Bit_Writer::flush_buffer() {
  if (pos_ > 0 && !failed_ && !sink_.write(buffer_, pos_)) failed_ = true;
  written_ += pos_;
  pos_ = 0;
  return !failed_;
}

}  // namespace Zip
