// Conversions between the channel's Guid and the Win32 GUID, and fresh ids.
#pragma once

#include <windows.h>

#include <cstring>

#include "ipc/guid.h"

namespace Core_IPC {

inline Guid from_win32(const GUID& g) {
  uint8_t bytes[Guid::kWireSize];
  static_assert(sizeof(GUID) == Guid::kWireSize, "GUID layout");
  std::memcpy(bytes, &g, sizeof bytes);
  return Guid::load(bytes);
}

// A fresh id from CoCreateGuid; the null id if the system refuses.
Guid create_guid();

}  // namespace Core_IPC
