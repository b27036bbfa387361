#include "system/os_version_table.h"

namespace Core_Common {

Os_Name classify_os_version(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build) {
  build &= 0xffff;
  if (platform == 1 && major == 4) {
    if (minor < 10) {
      if (build == 950) return {"Windows 95", 1};
      if (build >= 951 && build <= 1080) return {"Windows 95 SP1", 2};
      if (build > 1080) return {"Windows 95 OSR2", 3};
    } else if (minor == 10) {
      if (build == 1998) return {"Windows 98", 4};
      if (build >= 1999 && build <= 2182) return {"Windows 98 SP1", 5};
      if (build >= 2183) return {"Windows 98 SE", 6};
    } else if (minor == 90) {
      return {"Windows ME", 7};
    }
  } else if (platform == 2) {
    if (major == 3 && minor == 51) return {"Windows NT 3.51", 101};
    if (major == 4 && minor == 0) return {"Windows NT 4", 102};
    if (major == 5 && minor == 0) return {"Windows 2000", 103};
    if (major == 5 && minor == 1) return {"Windows XP", 104};
    if (major == 5 && minor == 2) return {"Windows 2003 Server", 105};
    if (major == 6 && minor == 0) return {"Windows Vista", 106};
    if (major == 6 && minor == 1) return {"Windows 7", 106};
  } else if (platform == 3) {
    return {"Windows CE", 201};
  }
  return {kUnknownWindows, 0};
}

}  // namespace Core_Common
