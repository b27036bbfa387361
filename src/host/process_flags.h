// The host's two process-wide switches, set on the main thread during
// start-up and read there afterwards.
#pragma once

namespace Plugin_Host {

struct Process_Flags {
  bool chinese_messages = false;  // the wrong-use message in Chinese
  bool debug = false;             // "/debug": the host window follows the plug-in's
};

Process_Flags& process_flags();

}  // namespace Plugin_Host
