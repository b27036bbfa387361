#include "reporter/faultpost_dlg.h"

#include <commctrl.h>

#include "reporter/about_dlg.h"
#include "reporter/faultpost_resources.h"
#include "reporter/reporter_texts.h"
#include "reporter/update_prompt_dlg.h"
#include "submit/torrent_submit.h"
#include "system/utf8_text.h"

namespace Faultpost {

namespace {

constexpr UINT_PTR kSendTimer = 0;
constexpr UINT_PTR kExitTimer = 1;
constexpr int kDescriptionLimit = 500;
constexpr int kPumpedPerRound = 5;

}  // namespace

CFaultpostDlg::CFaultpostDlg(const Report_Files& files, const Unsent_Reports& unsent, Unsent_Report_Sender& sender,
                             std::wstring app_argument, Crash_Log_Values crash_log)
    : files_(files),
      unsent_(unsent),
      sender_(sender),
      app_argument_(std::move(app_argument)),
      crash_log_(std::move(crash_log)),
      icon_(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CFaultpostDlg::~CFaultpostDlg() { destroy(); }

INT_PTR CFaultpostDlg::run() { return run_modal(IDD_FAULTPOST, nullptr); }

BOOL CFaultpostDlg::on_init_dialog() {
  if (const HMENU menu = ::GetSystemMenu(handle(), FALSE)) {
    wchar_t about[64] = {};
    ::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 64);
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
  }
  ::SendMessageW(handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  ::SetWindowTextW(handle(), app_argument_.c_str());
  const std::wstring display_name = crash_log_.program_name.empty()
                                        ? app_argument_
                                        : crash_log_.program_name + L"[" + app_argument_ + L"]";
  banner_.attach(::GetDlgItem(handle(), IDC_BANNER));
  banner_.set_background_white();
  headline_.attach(::GetDlgItem(handle(), IDC_HEADLINE));
  headline_.set_background_white();
  headline_.set_text_colour(RGB(0, 0, 0));
  headline_.set_bold();
  wchar_t headline[1024];
  ::wsprintfW(headline, text(kHeadline), display_name.substr(0, 400).c_str());
  set_item_text(IDC_HEADLINE, headline);
  advice_.attach(::GetDlgItem(handle(), IDC_ADVICE));
  advice_.set_bold();
  set_item_text(IDC_ADVICE, text(kAdvice));
  set_item_text(IDC_PRIVACY, text(kPrivacy));
  set_item_text(IDC_PROGRESS_LABEL, text(kProgressLabel));
  set_item_text(IDC_DESCRIPTION_LABEL, text(kDescriptionLabel));
  ::SendDlgItemMessageW(handle(), IDC_DESCRIPTION, EM_LIMITTEXT, kDescriptionLimit, 0);
  if (!crash_log_.crash_info.empty()) set_item_text(IDC_DESCRIPTION, crash_log_.crash_info.c_str());
  set_item_text(IDCANCEL, text(kDontSend));
  set_item_text(IDOK, text(kSend));
  set_item_text(IDC_RESTART, text(kRestart));
  ::CheckDlgButton(handle(), IDC_RESTART, BST_CHECKED);
  ::SendDlgItemMessageW(handle(), IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

  send_counter_ = 10;
  ::SetTimer(handle(), kSendTimer, 1000, nullptr);
  // The focus starts on the send button: the description would take the
  // first tab stop and so stop the countdown before the user did anything.
  ::SetFocus(::GetDlgItem(handle(), IDOK));
  return FALSE;
}

bool CFaultpostDlg::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg().run(handle());
        return true;
      }
      return false;
    case WM_PAINT:
      if (!::IsIconic(handle())) return false;
      paint_minimised();
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<LRESULT>(icon_);
      return true;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        send();
        return true;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        close();
        return true;
      }
      if (LOWORD(wparam) == IDC_DESCRIPTION && HIWORD(wparam) == EN_SETFOCUS) {
        stop_send_countdown();
        return true;
      }
      return false;
    case WM_TIMER:
      if (wparam == kSendTimer) on_send_tick();
      if (wparam == kExitTimer) on_exit_tick();
      return true;
    case OrbwellSearch::WMU_REQUEST_RESULT:
      on_request_result(wparam);
      return true;
    case OrbwellSearch::WMU_SUBMIT_RESULT:
      on_submit_result(wparam);
      return true;
  }
  (void)lparam;
  return false;
}

// A minimised dialog that is asked to paint draws its icon, centred, over
// the background the system erases for an icon.
void CFaultpostDlg::paint_minimised() {
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(handle(), &ps);
  ::SendMessageW(handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(handle(), &client);
  const int width = ::GetSystemMetrics(SM_CXICON);
  const int height = ::GetSystemMetrics(SM_CYICON);
  ::DrawIcon(dc, (client.right - width + 1) / 2, (client.bottom - height + 1) / 2, icon_);
  ::EndPaint(handle(), &ps);
}

std::string CFaultpostDlg::description() const {
  wchar_t text_buffer[kDescriptionLimit + 1] = {};
  ::GetDlgItemTextW(handle(), IDC_DESCRIPTION, text_buffer, kDescriptionLimit + 1);
  return to_system_code_page(text_buffer);
}

void CFaultpostDlg::send() {
  OrbwellSearch::RequestApp(handle(), to_system_code_page(app_argument_));
  ::EnableWindow(::GetDlgItem(handle(), IDOK), FALSE);
  ::EnableWindow(::GetDlgItem(handle(), IDCANCEL), FALSE);
  ::KillTimer(handle(), kSendTimer);
}

void CFaultpostDlg::close() {
  if (::IsDlgButtonChecked(handle(), IDC_RESTART) == BST_CHECKED) files_.restart_host();
  end_modal(IDCANCEL);
}

void CFaultpostDlg::stop_send_countdown() {
  ::KillTimer(handle(), kSendTimer);
  set_item_text(IDOK, text(kSend));
}

void CFaultpostDlg::on_send_tick() {
  if (send_counter_ < 1) {
    stop_send_countdown();
    send();
    return;
  }
  const std::wstring counting = std::wstring(text(kSend)) + L" (" + std::to_wstring(send_counter_--) + L")";
  set_item_text(IDOK, counting.c_str());
}

void CFaultpostDlg::on_exit_tick() {
  if (exit_counter_ <= 0) {
    ::KillTimer(handle(), kExitTimer);
    close();
    return;
  }
  const std::wstring counting = std::wstring(text(kExit)) + L" (" + std::to_wstring(exit_counter_--) + L")";
  set_item_text(IDCANCEL, counting.c_str());
}

void CFaultpostDlg::on_request_result(WPARAM newer_exists) {
  const std::string message = description();
  if (newer_exists == 1) {
    // The update prompt instead of the upload; the host stays down.
    CUpdatePromptDlg(to_system_code_page(app_argument_)).run(handle());
    end_modal(0);
    return;
  }
  done_ = false;
  OrbwellSearch::ReportForm form;
  form.app_version = to_system_code_page(app_argument_);
  form.user_message = message;
  form.archive_path = to_system_code_page(files_.archive_path());
  form.archive_file = Core_Common::narrow_utf8(files_.archive_path());
  OrbwellSearch::SubmitReport(files_.install_id(), handle(), form);
  animate_progress();
}

void CFaultpostDlg::on_submit_result(WPARAM failed) {
  done_ = true;
  const HWND cancel = ::GetDlgItem(handle(), IDCANCEL);
  ::EnableWindow(cancel, TRUE);
  set_item_text(IDCANCEL, text(kExit));
  ::ShowWindow(::GetDlgItem(handle(), IDOK), SW_HIDE);
  if (failed == 0) {
    set_item_text(IDC_PROGRESS_LABEL, text(kSuccess));
    set_progress(100);
    // The server is reached: what waited from earlier runs goes now.
    sender_.start();
  } else {
    set_item_text(IDC_PROGRESS_LABEL, text(kFailure));
    set_progress(0);
    // Not acknowledged: the report waits for a run that reaches the server.
    unsent_.keep(files_.archive_path(), to_system_code_page(app_argument_), files_.install_id(), description());
  }
  exit_counter_ = 5;
  ::SetTimer(handle(), kExitTimer, 1000, nullptr);
}

void CFaultpostDlg::set_progress(int percent) {
  ::SendDlgItemMessageW(handle(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CFaultpostDlg::animate_progress() {
  // Fast to 80, then slowly to 90; the result, handled while this pumps
  // messages, ends it.
  const struct {
    double step;
    double limit;
  } phases[] = {{2.0, 80.0}, {0.5, 90.0}};
  double position = 10.0;
  for (const auto& phase : phases) {
    if (done_) return;
    do {
      const int percent = static_cast<int>(position);
      set_progress(percent);
      const std::wstring label = std::wstring(text(kProgressLabel)) + std::to_wstring(percent) + L"%";
      set_item_text(IDC_PROGRESS_LABEL, label.c_str());
      position += phase.step;
      ::Sleep(50);
      pump_messages();
      if (done_) return;
    } while (position <= phase.limit);
  }
}

void CFaultpostDlg::pump_messages() {
  MSG message;
  for (int i = 0; i < kPumpedPerRound && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(-1);
      return;
    }
    if (::IsDialogMessageW(handle(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace Faultpost
