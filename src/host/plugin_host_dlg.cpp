#include "host/plugin_host_dlg.h"

#include <shellapi.h>

#include <array>
#include <vector>

#include "crash/crash_handlers.h"
#include "host/command_line.h"
#include "host/copied_link.h"
#include "host/host_resources.h"
#include "host/host_window_callback.h"
#include "host/installer_settings.h"
#include "host/process_flags.h"
#include "host/ready_event.h"
#include "host/single_instance.h"
#include "runtime/timer_queue.h"
#include "system/system_info.h"

namespace Plugin_Host {

namespace {

constexpr UINT_PTR kHeartbeatTimer = 0;
constexpr UINT kHeartbeatMs = 100;
// Posted when another thread (a channel worker) queues a task: the main
// client's request reaches the plug-in at once, not on the next tick.
constexpr UINT kRunTasksMessage = WM_APP + 1;
constexpr UINT kAboutCommand = 0x10;

std::vector<std::wstring> split_command_line() {
  std::vector<std::wstring> elements;
  int count = 0;
  if (wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    elements.assign(list, list + count);
    ::LocalFree(list);
  }
  return elements;
}

}  // namespace

CPluginHostDlg::CPluginHostDlg(Host_Runtime& runtime, std::wstring link)
    : runtime_(runtime),
      icon_(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      link_(std::move(link)) {}

CPluginHostDlg::~CPluginHostDlg() { destroy(); }

bool CPluginHostDlg::create() { return create_modeless(IDD_PLUGIN_HOST, nullptr); }

BOOL CPluginHostDlg::on_init_dialog() {
  ::SendMessageW(handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  read_command_line();
  apply_installer_settings(Core_Common::get_program_dir());

  Core_Drovan::PluginManage& plugin = runtime_.plugin();
  if (!plugin.load(Core_Drovan::PluginManage::library_path())) {
    // The main client learns of it from the ready event that never comes.
    post_quit();
    return TRUE;
  }
  start_plugin();

  OWHostCallBack::instance().set_window(handle());
  Core_Drovan::install_host_window_callback(&OWHostCallBack::instance());
  set_ready_event();
  ::SetTimer(handle(), kHeartbeatTimer, kHeartbeatMs, nullptr);
  runtime_.tasks().set_wake([window = handle()] { ::PostMessageW(window, kRunTasksMessage, 0, 0); });
  return TRUE;
}

void CPluginHostDlg::read_command_line() {
  const Host_Switches switches = read_host_switches(split_command_line());
  tcp_port_ = switches.tcp_port;
  udp_port_ = switches.udp_port;
  show_plugin_ = switches.show_plugin;
  show_host_window_ = switches.show_host_window;
  if (switches.debug) process_flags().debug = true;
}

void CPluginHostDlg::start_plugin() {
  Core_Drovan::PluginManage& plugin = runtime_.plugin();
  plugin.set_connection({0, 0, tcp_port_, udp_port_});
  plugin.start();  // a refusal unloads; the host serves on without a plug-in
  if (show_plugin_) plugin.post_show(true);
  if (!link_.empty()) {
    std::array<uint8_t, 16> ignored{};
    plugin.open_link(link_, ignored);
    plugin.post_show(true);
  }
}

bool CPluginHostDlg::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  // Everything the window does, the plug-in's tasks included, runs inside
  // the crash guard: a fault ends the host with a report.
  bool handled = false;
  Crash_Capture::crash_guard([&] { handled = handle_message(message, wparam, lparam, result); });
  return handled;
}

bool CPluginHostDlg::handle_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  if (message == where_are_you_message()) {
    if (wparam != 0) runtime_.plugin().post_show(true);
    result = where_are_you_message();
    return true;
  }
  switch (message) {
    case WM_SYSCOMMAND:
      return (wparam & 0xFFF0) == kAboutCommand;
    case WM_PAINT:
      return paint_minimised();
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<LRESULT>(icon_);
      return true;
    case WM_DESTROY:
      on_destroy();
      return false;
    case WM_TIMER:
      if (wparam == kHeartbeatTimer) on_timer();
      return true;
    case kRunTasksMessage:
      // Due timers too: a stream of posted wake-ups would otherwise hold
      // back the heartbeat, which comes only when no message waits.
      on_timer();
      return true;
    case WM_CLOSE:
      post_quit();
      return true;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
        case IDCANCEL:
          post_quit();
          return true;
        case IDC_TEST_BUTTON:
          runtime_.plugin().post_show(true);
          return true;
      }
      return false;
    case WM_COPYDATA:
      on_copy_data(reinterpret_cast<const COPYDATASTRUCT*>(lparam));
      result = TRUE;
      return true;
  }
  return false;
}

void CPluginHostDlg::on_timer() {
  runtime_.tasks().run_tasks();
  Core_Common::run_due_timers();
}

void CPluginHostDlg::on_destroy() {
  runtime_.tasks().set_wake({});
  ::KillTimer(handle(), kHeartbeatTimer);
  OWHostCallBack::instance().set_window(nullptr);
  Core_Drovan::PluginManage& plugin = runtime_.plugin();
  if (plugin.loaded()) plugin.stop();
  plugin.unload();
}

void CPluginHostDlg::on_copy_data(const COPYDATASTRUCT* data) {
  // The sender may be any program: the text is read within cbData only,
  // and no text at all is an empty link.
  if (data == nullptr) return;
  const std::u16string link = repair_copied_link(read_copied_text(data->lpData, data->cbData));
  std::array<uint8_t, 16> ignored{};
  runtime_.plugin().open_link(std::wstring(link.begin(), link.end()), ignored);
}

bool CPluginHostDlg::paint_minimised() {
  if (!::IsIconic(handle())) return false;
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(handle(), &paint);
  ::SendMessageW(handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(handle(), &client);
  const int left = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int top = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, left, top, icon_);
  ::EndPaint(handle(), &paint);
  return true;
}

void CPluginHostDlg::post_quit() { ::PostMessageW(handle(), WM_QUIT, 0, 0); }

}  // namespace Plugin_Host
