// Unsent_Report_Sender: sends the reports that wait in Unsent_Reports,
// oldest first, in the background of the result screen once a run has
// reached the server. Each asks the server about its version first: a
// current one is uploaded and leaves the folder only on the server's
// acknowledgement; one the server calls out of date leaves at once (its
// user was offered the update); any failure stops the round, and what is
// left waits for the next run. The submission's answers come to a window
// of its own, so the report dialog's never sees them.
#pragma once

#include <windows.h>

#include <vector>

#include "reporter/unsent_reports.h"

namespace Faultpost {

class Unsent_Report_Sender {
 public:
  explicit Unsent_Report_Sender(const Unsent_Reports& reports);
  ~Unsent_Report_Sender();

  Unsent_Report_Sender(const Unsent_Report_Sender&) = delete;
  Unsent_Report_Sender& operator=(const Unsent_Report_Sender&) = delete;

  // Starts a round; nothing when one runs or nothing waits.
  void start();
  bool busy() const { return busy_; }
  // Lets the round go on for at most `bound_ms` more, handling its answers
  // meanwhile; what is not acknowledged by then stays for the next run.
  void finish_within(DWORD bound_ms);

 private:
  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void ask_next();
  void on_request_result(WPARAM newer_exists);
  void on_submit_result(WPARAM failed);

  const Unsent_Reports& reports_;
  HWND window_ = nullptr;
  std::vector<Unsent_Report> waiting_;
  bool busy_ = false;
};

}  // namespace Faultpost
