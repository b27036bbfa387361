#include "reporter/faultpost_app.h"

#include <windows.h>
#include <winsock2.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "reporter/faultpost_dlg.h"
#include "reporter/faultpost_resources.h"
#include "reporter/report_files.h"
#include "reporter/reporter_texts.h"
#include "reporter/unsent_report_sender.h"
#include "reporter/unsent_reports.h"
#include "submit/torrent_submit.h"
#include "system/system_info.h"

namespace Faultpost {

namespace {

// How long reports that waited from earlier runs may still go once the
// dialog has closed.
constexpr DWORD kUnsentGraceMs = 3000;

// The first argument as given, or nothing.
bool first_argument(std::wstring& argument) {
  int count = 0;
  wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (list == nullptr) return false;
  const bool given = count >= 2;
  if (given) argument = list[1];
  ::LocalFree(list);
  return given;
}

class Socket_Library {
 public:
  Socket_Library() {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  ~Socket_Library() {
    if (started_) ::WSACleanup();
  }
  bool started() const { return started_; }

 private:
  bool started_;
};

}  // namespace

int CFaultpostApp::main() {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  ::InitCommonControlsEx(&controls);
  const Socket_Library sockets;
  if (!sockets.started()) {
    wchar_t message[128] = L"Windows sockets initialization failed.";
    ::LoadStringW(::GetModuleHandleW(nullptr), IDS_SOCKETS_INIT_FAILED, message, 128);
    ::MessageBoxW(nullptr, message, nullptr, MB_OK | MB_ICONSTOP);
    return 0;
  }
  set_chinese_texts(::GetUserDefaultLangID() == 2052 || ::GetACP() == 936);

  std::wstring app_argument;
  if (!first_argument(app_argument)) {
    ::MessageBoxW(nullptr, text(kUsage), L"Faultpost", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  OrbwellSearch::TorrentSubmit::create();
  const Report_Files files(Core_Common::get_program_dir());
  const Unsent_Reports unsent(Core_Common::get_program_dir());
  Unsent_Report_Sender sender(unsent);
  CFaultpostDlg dialog(files, unsent, sender, app_argument, files.read_crash_log());
  if (files.prepare(app_argument)) {
    dialog.run();
    // The host was restarted as the dialog closed; waiting reports get a
    // few seconds more, and what is left goes on the next run.
    sender.finish_within(kUnsentGraceMs);
  } else {
    ::MessageBoxW(nullptr, text(kNoCrashLog), L"Faultpost", MB_OK | MB_ICONEXCLAMATION);
  }
  OrbwellSearch::TorrentSubmit::destroy();
  return 0;
}

}  // namespace Faultpost
