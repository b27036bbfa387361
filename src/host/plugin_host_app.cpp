#include "host/plugin_host_app.h"

#include <windows.h>
#include <winsock2.h>
#include <ole2.h>
#include <shellapi.h>

#include <vector>

#include "base/application_identity.h"
#include "crash/crash_handlers.h"
#include "host/command_line.h"
#include "host/host_names.h"
#include "host/process_flags.h"
#include "host/single_instance.h"
#include "system/system_info.h"

namespace Plugin_Host {

namespace {

constexpr uint16_t kChinese = 2052;
constexpr UINT kChineseCodePage = 936;

std::vector<std::wstring> argument_vector() {
  std::vector<std::wstring> arguments;
  int count = 0;
  if (wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    arguments.assign(list, list + count);
    ::LocalFree(list);
  }
  return arguments;
}

void show_message(const wchar_t* text) {
  ::MessageBoxW(nullptr, text, Core_Common::product_title(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

CPluginHostApp::~CPluginHostApp() { exit_instance(); }

int CPluginHostApp::main() {
  int code = 0;  // a start that does not run as the host ends with 0 too
  if (initialise()) code = run();
  exit_instance();
  return code;
}

bool CPluginHostApp::initialise() {
  Core_Common::set_application_name(kApplicationName);
  // Primary language Chinese: the low 10 bits of the language id.
  const bool chinese_ui = (Core_Common::get_ui_language() & 0x3FF) == LANG_CHINESE;
  Core_Common::set_product_title(chinese_ui ? L"Drovan插件" : L"Drovan Plugin");
  Crash_Capture::install_crash_handlers();
  bool initialised = false;
  Crash_Capture::crash_guard([&] { initialised = initialise_host(); });
  return initialised;
}

bool CPluginHostApp::initialise_host() {
  WSADATA wsa;
  if (::WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
    show_message(L"Socket init failed.");
    return false;
  }
  sockets_initialised_ = true;
  if (FAILED(::OleInitialize(nullptr))) {
    show_message(L"OLE init failed.");
    return false;
  }
  ole_initialised_ = true;

  process_flags().chinese_messages =
      ::GetUserDefaultLangID() == kChinese || ::GetACP() == kChineseCodePage;

  const std::vector<std::wstring> arguments = argument_vector();
  const First_Argument first = classify_first_argument(arguments);
  if (first == First_Argument::wrong_use) {
    show_message(process_flags().chinese_messages ? L"本程序用于运行Orbwell插件。"
                                                  : L"This program is used to run Orbwell plugins.");
    return false;
  }
  const std::wstring link = first == First_Argument::link ? arguments[1] : std::wstring();

  Host_Instance_Mutex mutex;
  if (mutex.existed()) {
    // A second start never builds the channel. Handing over a link ends it
    // without a window: the message loop ends at once.
    if (!give_way(first, link)) return false;
    instance_mutex_ = mutex.take();  // left to the end of the process
    ::PostQuitMessage(0);
    return true;
  }
  instance_mutex_ = mutex.take();

  runtime_.reset();
  runtime_ = std::make_unique<Host_Runtime>();
  main_window_ = std::make_unique<CPluginHostDlg>(*runtime_, link);
  if (!main_window_->create()) {
    main_window_.reset();
    return false;
  }
  if (main_window_->show_host_window()) ::ShowWindow(main_window_->handle(), SW_SHOW);
  return true;
}

int CPluginHostApp::run() {
  Crash_Capture::install_crash_handlers();
  MSG message{};
  Crash_Capture::crash_guard([&] {
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      const HWND dialog = main_window_ ? main_window_->handle() : nullptr;
      if (dialog != nullptr && ::IsDialogMessageW(dialog, &message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  });
  return static_cast<int>(message.wParam);
}

void CPluginHostApp::exit_instance() {
  // The window first: its destroy handler stops and unloads the plug-in
  // while the runtime still stands.
  main_window_.reset();
  runtime_.reset();
  if (ole_initialised_) ::OleUninitialize();
  ole_initialised_ = false;
  if (sockets_initialised_) ::WSACleanup();
  sockets_initialised_ = false;
}

}  // namespace Plugin_Host
