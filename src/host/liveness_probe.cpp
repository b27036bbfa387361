#include "host/liveness_probe.h"

#include <windows.h>

#include "host/host_names.h"
#include "system/unique_handle.h"

namespace Plugin_Host {

namespace {

// Creating a mutex that exists opens it and says so; one that did not
// exist goes again with the handle.
bool mutex_exists(const wchar_t* name) {
  const Core_Common::Unique_Handle mutex(::CreateMutexW(nullptr, FALSE, name));
  return ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool drovanCallback::main_client_alive() { return mutex_exists(kClientInstanceMutex); }
bool drovanCallback::host_alive() { return mutex_exists(kHostInstanceMutex); }

drovanCallback& drovanCallback::instance() {
  static drovanCallback probe;
  return probe;
}

}  // namespace Plugin_Host
