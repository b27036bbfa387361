// The owner of a WinINet handle, closed once with InternetCloseHandle.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "system/unique_handle.h"

namespace OrbwellSearch {

struct Internet_Handle_Traits {
  using Handle = HINTERNET;
  static bool valid(HINTERNET h) { return h != nullptr; }
  static void close(HINTERNET h) { ::InternetCloseHandle(h); }
};
using Unique_Internet_Handle = Core_Common::Unique_Owner<Internet_Handle_Traits>;

}  // namespace OrbwellSearch
