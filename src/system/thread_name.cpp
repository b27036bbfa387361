#include "system/thread_name.h"

#include <windows.h>

namespace Core_Common {

void set_current_thread_name(const wchar_t* name) {
  // SetThreadDescription exists only on newer systems; elsewhere the
  // thread simply stays unnamed.
  using Set_Description_Fn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  const auto set_description = reinterpret_cast<Set_Description_Fn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadDescription")));
  if (set_description != nullptr) set_description(::GetCurrentThread(), name);
}

}  // namespace Core_Common
