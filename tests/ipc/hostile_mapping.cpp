// A hostile local process: creates the channel's named section first, at a
// size of its choosing, and holds it until killed or its lifetime ends.
//
//   hostile_mapping SIZE [LIFETIME_MS]
#include <windows.h>

#include <cwchar>

#include "ipc/channel_names.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const DWORD size = std::wcstoul(argv[1], nullptr, 10);
  const DWORD lifetime_ms = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 30000;
  HANDLE section = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                        Core_IPC::kMappingName);
  if (section == nullptr) return 3;
  ::Sleep(lifetime_ms);
  ::CloseHandle(section);
  return 0;
}
