// The process's 64-bit millisecond clock and the stopwatch built on it.
#pragma once

#include <cstdint>

namespace Core_Common {

// Milliseconds since an arbitrary start; does not wrap.
uint64_t now_ms();

class timestamp_auto {
 public:
  timestamp_auto() : value_(now_ms()) {}
  virtual ~timestamp_auto() = default;

  virtual void reset() { value_ = now_ms(); }
  virtual int64_t add_seconds(int64_t count) {
    value_ += count * 1000;
    return count * 1000;
  }
  virtual void add_milliseconds(int64_t count) { value_ += count; }
  virtual int64_t seconds_until(const timestamp_auto& other) const {
    return milliseconds_until(other) / 1000;
  }
  virtual int64_t elapsed_seconds() const { return elapsed_milliseconds() / 1000; }
  virtual int64_t milliseconds_until(const timestamp_auto& other) const {
    return static_cast<int64_t>(other.value_ - value_);
  }
  virtual int64_t elapsed_milliseconds() const {
    return static_cast<int64_t>(now_ms() - value_);
  }

  uint64_t value() const { return value_; }

 private:
  uint64_t value_;
};

}  // namespace Core_Common
