// The receive thread ("IPC_Daemon_Thread") of an endpoint. It wakes on the
// endpoint's notify event or the wake-all event and hands each wake-up to
// the medium.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "system/unique_handle.h"
#include "system/win32_kernel_object.h"

namespace Core_IPC {

class Transport_Medium_Int;

class Data_Notify_Watch {
 public:
  // `wake_all` is borrowed from the medium; `notify_name` names this
  // endpoint's notify event, which the watch creates.
  Data_Notify_Watch(Transport_Medium_Int* owner, HANDLE wake_all, const std::wstring& notify_name);
  ~Data_Notify_Watch();

  Data_Notify_Watch(const Data_Notify_Watch&) = delete;
  Data_Notify_Watch& operator=(const Data_Notify_Watch&) = delete;

  bool failed() const { return failed_; }

  bool start();
  // Ends the thread, terminating it when it does not end within timeout_ms;
  // false when it had to be terminated.
  bool stop(DWORD timeout_ms);

 private:
  static DWORD WINAPI thread_main(void* self);
  void run();

  std::atomic<bool> stopped_{true};
  HANDLE wait_handles_[3] = {};
  Core_Common::Unique_Handle thread_;
  Core_Common::Unique_Handle stop_event_;
  Core_Common::Adapt_Win32_Event notify_event_;
  Transport_Medium_Int* owner_;
  // Also set by the thread when its wait fails.
  std::atomic<bool> failed_{false};
};

}  // namespace Core_IPC
