// OWHostCallBack: how the bridge closes the host or shows its window. One
// static instance holds the host window's handle while the window exists.
#pragma once

#include <windows.h>

#include <atomic>

#include "bridge/host_callbacks.h"

namespace Plugin_Host {

class OWHostCallBack final : public Core_Drovan::InterfaceDrovanPlugin_CallBack {
 public:
  // Posts WM_CLOSE to the window.
  void close_host() override;
  // Only with "/debug". Any thread.
  void show_host_window(bool show) override;

  void set_window(HWND window) { window_ = window; }

  static OWHostCallBack& instance();

 private:
  std::atomic<HWND> window_{nullptr};
};

}  // namespace Plugin_Host
