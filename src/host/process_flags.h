// The host's two process-wide switches, set on the main thread during
// start-up; the debug flag is also read on the channel's worker threads.
#pragma once

#include <atomic>

namespace Plugin_Host {

struct Process_Flags {
  std::atomic<bool> chinese_messages{false};  // the wrong-use message in Chinese
  std::atomic<bool> debug{false};  // "/debug": the host window follows the plug-in's
};

Process_Flags& process_flags();

}  // namespace Plugin_Host
