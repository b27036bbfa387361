#include "system/thread_name.h"

#include <windows.h>

#include "system/system_library.h"

namespace Core_Common {

void set_current_thread_name(const wchar_t* name) {
  // SetThreadDescription exists only on newer systems; elsewhere the
  // thread simply stays unnamed.
  using Set_Description_Fn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const System_Library kernel(L"kernel32.dll");
  if (const auto set_description = kernel.find<Set_Description_Fn>("SetThreadDescription")) {
    set_description(::GetCurrentThread(), name);
  }
}

}  // namespace Core_Common
