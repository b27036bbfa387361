#include "host/process_flags.h"

namespace Plugin_Host {

Process_Flags& process_flags() {
  static Process_Flags flags;
  return flags;
}

}  // namespace Plugin_Host
