// The host's calls to the main client's callback interface. Each waits at
// most 5000 ms for the reply, and none is sent while the client's address
// is unset or the liveness probe says the client is not running.
#pragma once

#include <cstdint>
#include <optional>

#include "ipc/call_record.h"

namespace Core_Drovan {

// Set by the host runtime while it stands; calls fail without it.
void set_client_address(std::optional<Core_IPC::Service_Address> address);
bool has_client_address();

// A notification: true when any reply came. Its outcome is the caller's
// to ignore.
bool notify_client(uint32_t method_id, const Core_IPC::Argument_List& arguments);

// A question: true when the reply's status is 0, its results handed back.
bool ask_client(uint32_t method_id, const Core_IPC::Argument_List& arguments,
                Core_IPC::Argument_List& results);

}  // namespace Core_Drovan
