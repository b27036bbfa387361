#include "reporter/about_dlg.h"

#include "reporter/faultpost_resources.h"

namespace Faultpost {

INT_PTR CAboutDlg::run(HWND parent) { return run_modal(IDD_ABOUTBOX, parent); }

bool CAboutDlg::on_message(UINT message, WPARAM wparam, LPARAM, LRESULT&) {
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    end_modal(LOWORD(wparam));
    return true;
  }
  return false;
}

}  // namespace Faultpost
