// Names and checks the kernel-object tests share.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace Core_Common {

// A name no other process or earlier test uses.
inline std::wstring unique_object_name(const wchar_t* prefix) {
  static std::atomic<unsigned> counter{0};
  return prefix + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(::GetTickCount()) +
         L"_" + std::to_wstring(++counter);
}

inline bool is_signalled(HANDLE h) { return ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

}  // namespace Core_Common
