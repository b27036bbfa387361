// One host per logon: the host instance mutex, and what a second start
// does when it finds the first one running.
#pragma once

#include <windows.h>

#include <string>

#include "host/command_line.h"
#include "system/unique_handle.h"

namespace Plugin_Host {

// The registered where-are-you message; a host window answers it with its
// own id.
UINT where_are_you_message();

// Creates the host instance mutex (not owned, default security). existed()
// tells a second start; a mutex that cannot be had at all counts as the
// first.
class Host_Instance_Mutex {
 public:
  Host_Instance_Mutex();
  bool existed() const { return last_error_ == ERROR_ALREADY_EXISTS; }
  // The running host holds the handle until the process ends.
  Core_Common::Unique_Handle take() { return std::move(handle_); }

 private:
  Core_Common::Unique_Handle handle_;
  DWORD last_error_;
};

// The running host's window: the first top-level window that answers the
// probe with the message's id within 5000 ms. Null when none does.
HWND find_running_host();

// A second start hands the running host what it came for. Returns true when
// a link was handed over: the start then ends without a window. Otherwise it
// has set the ready event and returns false, and the start ends as a
// failed initialisation.
bool give_way(First_Argument first, const std::wstring& link);

}  // namespace Plugin_Host
