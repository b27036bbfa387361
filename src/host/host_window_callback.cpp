#include "host/host_window_callback.h"

#include "host/process_flags.h"

namespace Plugin_Host {

void OWHostCallBack::close_host() {
  if (const HWND window = window_) ::PostMessageW(window, WM_CLOSE, 0, 0);
}

// Called on a channel worker: the window's own thread shows it, so the
// worker never waits for a main thread that may be busy in the plug-in.
void OWHostCallBack::show_host_window(bool show) {
  const HWND window = window_;
  if (process_flags().debug && window != nullptr) ::ShowWindowAsync(window, show ? SW_SHOW : SW_HIDE);
}

OWHostCallBack& OWHostCallBack::instance() {
  static OWHostCallBack callback;
  return callback;
}

}  // namespace Plugin_Host
