// Writes hand-made bytes into the channel's mapping, as a sender does, for
// tests that need a message the library would never build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipc/guid.h"

namespace Test_Support {

// A Medium_Message around a Route_Envelope around `pdu`.
std::vector<uint8_t> raw_message(const Core_IPC::Guid& message_id, const Core_IPC::Guid& destination,
                                 const Core_IPC::Guid& source, const std::vector<uint8_t>& pdu);

// Writes `message` under the writer mutex, signals the receiver's notify
// event and returns whether it acknowledged within the usual wait.
bool inject_message(const std::vector<uint8_t>& message, const Core_IPC::Guid& receiver);

// Waits up to five seconds for an endpoint's notify event to exist.
bool wait_for_endpoint(const Core_IPC::Guid& endpoint);

}  // namespace Test_Support
