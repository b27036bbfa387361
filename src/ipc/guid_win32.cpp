#include "ipc/guid_win32.h"

#include <objbase.h>

namespace Core_IPC {

Guid create_guid() {
  GUID g{};
  if (FAILED(::CoCreateGuid(&g))) return Guid{};
  return from_win32(g);
}

}  // namespace Core_IPC
