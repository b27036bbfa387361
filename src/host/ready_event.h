// The named event the main client waits on to learn that a host is ready.
#pragma once

namespace Plugin_Host {

// Opens or creates the event (auto-reset, with the channel's security),
// sets it once and lets the handle go.
void set_ready_event();

}  // namespace Plugin_Host
