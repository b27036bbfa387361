#include "reporter/update_prompt_dlg.h"

#include "reporter/faultpost_resources.h"
#include "reporter/report_files.h"
#include "reporter/reporter_texts.h"
#include "submit/endpoint_address.h"

namespace Faultpost {

namespace {

constexpr UINT_PTR kCountdownTimer = 0;

// The same test as the texts' flag, made again here.
bool chinese_user() { return ::GetUserDefaultLangID() == 2052 || ::GetACP() == 936; }

}  // namespace

CUpdatePromptDlg::CUpdatePromptDlg(std::string app_argument) : app_argument_(std::move(app_argument)) {}

CUpdatePromptDlg::~CUpdatePromptDlg() { destroy(); }

INT_PTR CUpdatePromptDlg::run(HWND parent) { return run_modal(IDD_UPDATE_PROMPT, parent); }

BOOL CUpdatePromptDlg::on_init_dialog() {
  ::SetWindowTextW(handle(), text(kUpdateCaption));
  ::SetDlgItemTextW(handle(), IDC_UPDATE_MESSAGE, text(kUpdateMessage));
  ::SetDlgItemTextW(handle(), IDOK, text(kOk));

  const std::wstring site = from_system_code_page(OrbwellSearch::report_site_address());
  const std::wstring page = from_system_code_page(OrbwellSearch::update_page_address(app_argument_, chinese_user()));
  ::SetDlgItemTextW(handle(), IDC_UPDATE_LINK, site.c_str());
  link_.attach(::GetDlgItem(handle(), IDC_UPDATE_LINK));
  link_.set_url(page);

  wchar_t button[64] = {};
  ::GetDlgItemTextW(handle(), IDOK, button, 64);
  button_text_ = button;
  countdown_ = 5;
  ::SetTimer(handle(), kCountdownTimer, 1000, nullptr);
  return TRUE;
}

bool CUpdatePromptDlg::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_TIMER:
      if (wparam != kCountdownTimer) return false;
      if (countdown_ < 1) {
        ::KillTimer(handle(), kCountdownTimer);
        end_modal(IDOK);
      } else {
        const std::wstring counting = button_text_ + L" (" + std::to_wstring(countdown_--) + L")";
        ::SetDlgItemTextW(handle(), IDOK, counting.c_str());
      }
      return true;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_UPDATE_LINK && HIWORD(wparam) == STN_CLICKED) {
        link_.on_clicked();
        return true;
      }
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        end_modal(LOWORD(wparam));
        return true;
      }
      return false;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == link_.handle()) {
        result = reinterpret_cast<LRESULT>(link_.on_ctl_color(reinterpret_cast<HDC>(wparam)));
        return true;
      }
      return false;
  }
  return false;
}

}  // namespace Faultpost
