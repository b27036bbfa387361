// The process's own endpoint id. It is set once at start-up, before any
// part of the channel is built; the channel reads it when it is built.
#pragma once

#include "ipc/guid.h"

namespace Core_IPC {

void set_own_endpoint_id(const Guid& id);
Guid own_endpoint_id();

// The two ends of the channel.
inline const Guid kHostEndpointId = *parse_guid("{DFA820AE-3BE0-4220-A088-B22A6514F268}");
inline const Guid kClientEndpointId = *parse_guid("{13F76229-C820-4A84-AFEB-1CF0F5763E38}");

}  // namespace Core_IPC
