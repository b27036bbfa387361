// Least-significant-bit-first bit output through a 16 KB buffer. Bits
// collect in a 64-bit accumulator and leave it a whole 32-bit word at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/deflate_io.h"

namespace Zip {

class Bit_Writer {
 public:
  static constexpr size_t kBufferSize = 16 * 1024;

  explicit Bit_Writer(Deflate_Sink& sink) : sink_(sink) {}

  // Appends the low `length` bits of `value` (length <= 16).
  void send_bits(uint32_t value, int length) {
    bits_ |= static_cast<uint64_t>(value) << filled_;
    filled_ += length;
    if (filled_ >= 32) {
      if (pos_ + 4 > kBufferSize) flush_buffer();
      buffer_[pos_++] = static_cast<uint8_t>(bits_);
      buffer_[pos_++] = static_cast<uint8_t>(bits_ >> 8);
      buffer_[pos_++] = static_cast<uint8_t>(bits_ >> 16);
      buffer_[pos_++] = static_cast<uint8_t>(bits_ >> 24);
      bits_ >>= 32;
      filled_ -= 32;
    }
  }

  // Pads to a byte boundary with zero bits.
  void align_to_byte() {
    while (filled_ > 0) {
      put_byte(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
      filled_ = filled_ > 8 ? filled_ - 8 : 0;
    }
    bits_ = 0;
  }

  // Byte-aligned output; align_to_byte() must come first.
  void put_byte(uint8_t b) {
    if (pos_ == kBufferSize) flush_buffer();
    buffer_[pos_++] = b;
  }
  void put_bytes(const uint8_t* data, size_t size);

  // Hands the buffered bytes to the sink; false once any write failed.
  bool flush_buffer();

  uint64_t bytes_out() const { return written_ + pos_; }
  bool failed() const { return failed_; }

 private:
  Deflate_Sink& sink_;
  uint64_t bits_ = 0;
  int filled_ = 0;
  size_t pos_ = 0;
  uint64_t written_ = 0;
  bool failed_ = false;
  uint8_t buffer_[kBufferSize];
};

}  // namespace Zip
