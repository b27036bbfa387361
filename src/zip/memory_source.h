// A Deflate source over bytes in memory, for tools, tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstring>

#include "zip/deflate_io.h"

namespace Zip {

class Memory_Source final : public Deflate_Source {
 public:
  Memory_Source(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t read(uint8_t* buffer, size_t size) override {
    const size_t n = std::min(size, size_ - pos_);
    if (n != 0) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace Zip
