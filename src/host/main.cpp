// plugin_Drovan.exe: the plug-in host.
#include <windows.h>

#include "host/plugin_host_app.h"
#include "host/single_instance.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Registered before anything else, so the window answers it from the
  // first message on.
  Plugin_Host::where_are_you_message();
  Plugin_Host::CPluginHostApp app;
  return app.main();
}
