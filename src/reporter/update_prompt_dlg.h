// CUpdatePromptDlg: tells the user that a newer version can be downloaded,
// with a link to the update page, and closes itself after a countdown.
// System-modal.
#pragma once

#include <string>

#include "reporter/hyper_link.h"
#include "system/dialog_window.h"

namespace Faultpost {

class CUpdatePromptDlg final : public Core_Common::Dialog_Window {
 public:
  explicit CUpdatePromptDlg(std::string app_argument);
  ~CUpdatePromptDlg() override;

  INT_PTR run(HWND parent);

 private:
  BOOL on_init_dialog() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;

  std::string app_argument_;
  GUI_Common::CHyperLink link_;
  int countdown_ = 5;
  std::wstring button_text_;
};

}  // namespace Faultpost
