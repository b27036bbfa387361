// A system library loaded for functions that not every system version
// exports: callers look them up at run time and carry on without them.
#pragma once

#include <windows.h>

#include "system/unique_handle.h"

namespace Core_Common {

class System_Library {
 public:
  explicit System_Library(const wchar_t* name) : module_(::LoadLibraryW(name)) {}

  explicit operator bool() const { return static_cast<bool>(module_); }

  // The export `name` as a function pointer of type Fn; null when the
  // library or the export is missing. Valid while this object lives.
  template <typename Fn>
  Fn find(const char* name) const {
    if (!module_) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module_.get(), name)));
  }

 private:
  Unique_Module module_;
};

}  // namespace Core_Common
