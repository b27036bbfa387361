// Extends a wrapping 32-bit millisecond counter to 64 bits by counting the
// wrap-arounds it sees. Not locked; its owner serialises.
#pragma once

#include <cstdint>

namespace Core_Common {

class Tick_Clock {
 public:
  uint64_t extend(uint32_t reading) {
    if (started_ && reading < last_) ++wraps_;
    started_ = true;
    last_ = reading;
    return (static_cast<uint64_t>(wraps_) << 32) | reading;
  }

 private:
  bool started_ = false;
  uint32_t last_ = 0;
  uint32_t wraps_ = 0;
};

}  // namespace Core_Common
