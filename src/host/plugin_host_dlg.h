// The host's main window: a dialog that normally stays hidden. Creating it
// loads and starts the plug-in and tells the main client the host is
// ready; its 100 ms timer runs every task and timer of the host; destroying
// it stops and unloads the plug-in. Other starts of the host find it by
// the where-are-you message and hand it links with WM_COPYDATA.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "host/host_runtime.h"
#include "system/dialog_window.h"

namespace Plugin_Host {

class CPluginHostDlg final : public Core_Common::Dialog_Window {
 public:
  // `link` is the first argument when it was a link, else empty.
  CPluginHostDlg(Host_Runtime& runtime, std::wstring link);
  ~CPluginHostDlg() override;

  // Creates the window, which runs the start-up sequence.
  bool create();
  bool show_host_window() const { return show_host_window_; }

 private:
  BOOL on_init_dialog() override;
  bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
  bool handle_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

  void read_command_line();
  void start_plugin();
  void on_timer();
  void on_destroy();
  void on_copy_data(const COPYDATASTRUCT* data);
  bool paint_minimised();
  void post_quit();

  Host_Runtime& runtime_;
  HICON icon_;
  uint16_t tcp_port_ = 0;
  uint16_t udp_port_ = 0;
  bool show_plugin_ = false;
  bool show_host_window_ = false;
  std::wstring link_;
};

}  // namespace Plugin_Host
