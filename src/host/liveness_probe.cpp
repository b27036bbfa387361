#include "host/liveness_probe.h"

#include <windows.h>

#include "host/host_names.h"
#include "system/unique_handle.h"

namespace Plugin_Host {

namespace {

// Opened, never created: a probe that created the mutex for a moment would
// make a main client starting at that moment take itself for a second
// instance. A mutex this process may not open exists all the same.
bool mutex_exists(const wchar_t* name) {
  const Core_Common::Unique_Handle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name));
  return mutex || ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

bool drovanCallback::main_client_alive() { return mutex_exists(kClientInstanceMutex); }
bool drovanCallback::host_alive() { return mutex_exists(kHostInstanceMutex); }

drovanCallback& drovanCallback::instance() {
  static drovanCallback probe;
  return probe;
}

}  // namespace Plugin_Host
