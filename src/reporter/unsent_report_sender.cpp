#include "reporter/unsent_report_sender.h"

#include "reporter/report_files.h"
#include "submit/torrent_submit.h"
#include "system/utf8_text.h"

namespace Faultpost {

namespace {

constexpr wchar_t kWindowClass[] = L"Faultpost_Unsent_Report_Sender";

bool readable(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  const bool some = ::GetFileSizeEx(file, &size) && size.QuadPart > 0;
  ::CloseHandle(file);
  return some;
}

}  // namespace

Unsent_Report_Sender::Unsent_Report_Sender(const Unsent_Reports& reports) : reports_(reports) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &Unsent_Report_Sender::window_procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassW(&window_class);  // a second sender finds it registered
  window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  if (window_ != nullptr) ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Unsent_Report_Sender::~Unsent_Report_Sender() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void Unsent_Report_Sender::start() {
  if (busy_ || window_ == nullptr) return;
  waiting_ = reports_.list();
  if (waiting_.empty()) return;
  busy_ = true;
  ask_next();
}

void Unsent_Report_Sender::finish_within(DWORD bound_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + bound_ms;
  while (busy_ && ::GetTickCount64() < deadline) {
    MSG message;
    while (::PeekMessageW(&message, window_, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
  }
}

LRESULT CALLBACK Unsent_Report_Sender::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<Unsent_Report_Sender*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && message == OrbwellSearch::WMU_REQUEST_RESULT) {
    self->on_request_result(wparam);
    return 0;
  }
  if (self != nullptr && message == OrbwellSearch::WMU_SUBMIT_RESULT) {
    self->on_submit_result(wparam);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void Unsent_Report_Sender::ask_next() {
  if (waiting_.empty()) {
    busy_ = false;
    return;
  }
  OrbwellSearch::RequestApp(window_, waiting_.front().app_version);
}

void Unsent_Report_Sender::on_request_result(WPARAM newer_exists) {
  if (!busy_ || waiting_.empty()) return;
  const Unsent_Report& report = waiting_.front();
  // Out of date (its user was offered the update), or an archive that can
  // no longer be read here: either would fail every round, first.
  if (newer_exists == 1 || !readable(report.archive_path)) {
    reports_.remove(report);
    waiting_.erase(waiting_.begin());
    ask_next();
    return;
  }
  // The name on the wire as for the current report: the archive's path in
  // the system code page; the file read through its UTF-8 path.
  OrbwellSearch::ReportForm form(report.app_version, report.user_message, to_system_code_page(report.archive_path),
                                 Core_Common::narrow_utf8(report.archive_path));
  OrbwellSearch::SubmitReport(report.install_id, window_, form);
}

void Unsent_Report_Sender::on_submit_result(WPARAM failed) {
  if (!busy_ || waiting_.empty()) return;
  if (failed != 0) {
    // The server cannot be reached or refuses: the rest waits as it is.
    waiting_.clear();
    busy_ = false;
    return;
  }
  reports_.remove(waiting_.front());
  waiting_.erase(waiting_.begin());
  ask_next();
}

}  // namespace Faultpost
