// The three functions the host hands the plug-in (slot 25) for questions
// to the main client. The plug-in may call them on any thread; each blocks
// until the client answers or 5000 ms have passed.
#pragma once

#include "bridge/plugin_manage.h"

namespace Core_Drovan {

// The largest read the plug-in may ask for: 100 MiB.
inline constexpr uint32_t kMaxClientRead = 104857600;

Plugin_Callbacks host_plugin_callbacks();

}  // namespace Core_Drovan
