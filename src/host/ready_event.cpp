#include "host/ready_event.h"

#include "host/host_names.h"
#include "system/win32_kernel_object.h"

namespace Plugin_Host {

void set_ready_event() {
  Core_Common::Adapt_Win32_Event event;
  if (event.create_event(kReadyEvent, false)) ::SetEvent(event.handle());
}

}  // namespace Plugin_Host
