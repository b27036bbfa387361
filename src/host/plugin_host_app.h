// CPluginHostApp: the host process from start to end. initialise decides
// whether this start runs as the host, gives way to a running one or
// refuses; run is the message loop; exit tears down in a fixed order.
#pragma once

#include <memory>
#include <string>

#include "host/host_runtime.h"
#include "host/plugin_host_dlg.h"
#include "system/unique_handle.h"

namespace Plugin_Host {

class CPluginHostApp {
 public:
  CPluginHostApp() = default;
  ~CPluginHostApp();

  CPluginHostApp(const CPluginHostApp&) = delete;
  CPluginHostApp& operator=(const CPluginHostApp&) = delete;

  // The process's exit code: initialise, then run when it succeeded, then
  // exit in any case.
  int main();

 private:
  // Installs the crash handlers, then runs the rest inside the crash guard.
  bool initialise();
  bool initialise_host();
  // The message loop, inside the crash guard.
  int run();
  void exit_instance();

  bool ole_initialised_ = false;
  bool sockets_initialised_ = false;
  Core_Common::Unique_Handle instance_mutex_;
  std::unique_ptr<Host_Runtime> runtime_;
  std::unique_ptr<CPluginHostDlg> main_window_;
};

}  // namespace Plugin_Host
