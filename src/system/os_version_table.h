// The operating system's name and code from its version numbers.
#pragma once

#include <cstdint>

namespace Core_Common {

struct Os_Name {
  const char* name;
  int code;  // 0: unknown
};

inline constexpr char kUnknownWindows[] = "Unknown Windows Version";

// platform: 1 Windows 9x, 2 NT, 3 CE; only the low 16 bits of the build
// count.
Os_Name classify_os_version(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build);

}  // namespace Core_Common
