// The about box: the program's icon, name and version.
#pragma once

#include "system/dialog_window.h"

namespace Faultpost {

class CAboutDlg final : public Core_Common::Dialog_Window {
 public:
  ~CAboutDlg() override { destroy(); }
  INT_PTR run(HWND parent);

 private:
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
};

}  // namespace Faultpost
