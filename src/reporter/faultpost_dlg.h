// CFaultpostDlg: the report dialog. It counts down to sending on its own,
// asks the report server whether the version is current, uploads the
// archive with the user's description or hands over to the update prompt,
// shows the outcome and counts down to closing, restarting the host when
// the box is ticked.
#pragma once

#include <string>

#include "reporter/report_files.h"
#include "reporter/unsent_report_sender.h"
#include "reporter/unsent_reports.h"
#include "reporter/xcolor_static.h"
#include "system/dialog_window.h"

namespace Faultpost {

class CFaultpostDlg final : public Core_Common::Dialog_Window {
 public:
  // A report that is not acknowledged waits in `unsent`; one that is sets
  // `sender` off with those that waited.
  CFaultpostDlg(const Report_Files& files, const Unsent_Reports& unsent, Unsent_Report_Sender& sender,
                std::wstring app_argument, Crash_Log_Values crash_log);
  ~CFaultpostDlg() override;

  INT_PTR run();

 private:
  BOOL on_init_dialog() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;

  void send();
  void close();
  void paint_minimised();
  void on_request_result(WPARAM newer_exists);
  void on_submit_result(WPARAM failed);
  void on_send_tick();
  void on_exit_tick();
  void stop_send_countdown();
  // The progress bar's walk while the upload runs; returns when the result
  // has come or the bar reached 90.
  void animate_progress();
  void set_progress(int percent);
  void pump_messages();
  std::string description() const;
  void set_item_text(int id, const wchar_t* text) const { ::SetDlgItemTextW(handle(), id, text); }

  const Report_Files& files_;
  const Unsent_Reports& unsent_;
  Unsent_Report_Sender& sender_;
  std::wstring app_argument_;
  Crash_Log_Values crash_log_;
  GUI_Common::CXColorStatic banner_;
  GUI_Common::CXColorStatic headline_;
  GUI_Common::CXColorStatic advice_;
  HICON icon_;
  int send_counter_ = 10;
  int exit_counter_ = 5;
  bool done_ = false;
};

}  // namespace Faultpost
