// Owns a Win32 kernel handle and closes it once. Null and
// INVALID_HANDLE_VALUE both mean "no handle".
#pragma once

#include <windows.h>

#include <utility>

namespace Core_Common {

class Unique_Handle {
 public:
  Unique_Handle() = default;
  explicit Unique_Handle(HANDLE h) : handle_(h) {}
  Unique_Handle(Unique_Handle&& other) noexcept : handle_(other.release()) {}
  Unique_Handle& operator=(Unique_Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Unique_Handle(const Unique_Handle&) = delete;
  Unique_Handle& operator=(const Unique_Handle&) = delete;
  ~Unique_Handle() { reset(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset(HANDLE h = nullptr) {
    if (*this) ::CloseHandle(handle_);
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace Core_Common
