// Owners of Win32 handles: each closes its handle once, with the function
// of its kind. A handle's "none" values never reach the close function.
#pragma once

#include <windows.h>

#include <utility>

namespace Core_Common {

template <typename Traits>
class Unique_Owner {
 public:
  using Handle = typename Traits::Handle;

  Unique_Owner() = default;
  explicit Unique_Owner(Handle h) : handle_(h) {}
  Unique_Owner(Unique_Owner&& other) noexcept : handle_(other.release()) {}
  Unique_Owner& operator=(Unique_Owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Unique_Owner(const Unique_Owner&) = delete;
  Unique_Owner& operator=(const Unique_Owner&) = delete;
  ~Unique_Owner() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return Traits::valid(handle_); }

  Handle release() { return std::exchange(handle_, Handle{}); }
  void reset(Handle h = Handle{}) {
    if (*this) Traits::close(handle_);
    handle_ = h;
  }

 private:
  Handle handle_{};
};

// A kernel handle: null and INVALID_HANDLE_VALUE both mean "no handle".
struct Kernel_Handle_Traits {
  using Handle = HANDLE;
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { ::CloseHandle(h); }
};
using Unique_Handle = Unique_Owner<Kernel_Handle_Traits>;

// A loaded library, freed once.
struct Module_Traits {
  using Handle = HMODULE;
  static bool valid(HMODULE m) { return m != nullptr; }
  static void close(HMODULE m) { ::FreeLibrary(m); }
};
using Unique_Module = Unique_Owner<Module_Traits>;

}  // namespace Core_Common
