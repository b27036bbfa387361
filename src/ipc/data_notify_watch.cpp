#include "ipc/data_notify_watch.h"

#include <new>

#include "ipc/transport_interfaces.h"
#include "system/thread_name.h"

namespace Core_IPC {

namespace {

constexpr DWORD kDestroyStopMs = 5000;

}  // namespace

Data_Notify_Watch::Data_Notify_Watch(Transport_Medium_Int* owner, HANDLE wake_all,
                                     const std::wstring& notify_name)
    : owner_(owner) {
  stop_event_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  notify_event_.create_event(notify_name, false);
  wait_handles_[0] = wake_all;
  wait_handles_[1] = notify_event_.handle();
  wait_handles_[2] = stop_event_.get();
  failed_ = notify_event_.handle() == nullptr || wake_all == nullptr || !stop_event_;
}

Data_Notify_Watch::~Data_Notify_Watch() { stop(kDestroyStopMs); }

bool Data_Notify_Watch::start() {
  if (failed_ || !stopped_) return false;
  stopped_ = false;
  thread_.reset(::CreateThread(nullptr, 0, &Data_Notify_Watch::thread_main, this, 0, nullptr));
  if (!thread_) {
    stopped_ = true;
    return false;
  }
  return true;
}

bool Data_Notify_Watch::stop(DWORD timeout_ms) {
  if (stopped_) return true;
  ::SetEvent(stop_event_.get());
  const bool ended = ::WaitForSingleObject(thread_.get(), timeout_ms) == WAIT_OBJECT_0;
  if (!ended) ::TerminateThread(thread_.get(), 1);
  thread_.reset();
  stopped_ = true;
  return ended;
}

DWORD WINAPI Data_Notify_Watch::thread_main(void* self) {
  Core_Common::set_current_thread_name(L"IPC_Daemon_Thread");
  static_cast<Data_Notify_Watch*>(self)->run();
  return 0;
}

void Data_Notify_Watch::run() {
  while (!stopped_) {
    const DWORD woke = ::WaitForMultipleObjects(3, wait_handles_, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_OBJECT_0 + 1) {
      try {
        owner_->on_notify();
      } catch (const std::bad_alloc&) {
        // The message could not be copied out; it is dropped unacknowledged
        // and the sender times out as for any lost message.
      }
    } else if (woke == WAIT_OBJECT_0 + 2) {
      return;
    } else {
      // A failed wait means a handle is no longer usable; it will not
      // become usable again, so end rather than spin.
      failed_ = true;
      return;
    }
  }
}

}  // namespace Core_IPC
