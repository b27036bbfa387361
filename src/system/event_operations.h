// Scope guards and the two event operations the transport is built on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "system/unique_handle.h"

namespace Core_Common {

// Waits for a mutex on construction and releases it on leaving scope,
// unless the wait timed out. An abandoned mutex counts as owned.
class Mutex_Guard {
 public:
  Mutex_Guard(HANDLE mutex, DWORD timeout_ms)
      : mutex_(mutex), timed_out_(::WaitForSingleObject(mutex, timeout_ms) == WAIT_TIMEOUT) {}
  ~Mutex_Guard() {
    if (!timed_out_) ::ReleaseMutex(mutex_);
  }
  Mutex_Guard(const Mutex_Guard&) = delete;
  Mutex_Guard& operator=(const Mutex_Guard&) = delete;

  bool timed_out() const { return timed_out_; }

 private:
  HANDLE mutex_;
  bool timed_out_;
};

// State of one event operation. A handle the guard opened itself is closed
// when the guard leaves scope; the guard never resets an event it signalled,
// since that could take the signal away before the receiver woke.
struct Event_Guard {
  uint32_t timeout_ms = INFINITE;  // INFINITE: no limit
  Unique_Handle event;
};

// Consumes any pending signal of `event`: polls it with a zero wait every
// 10 ms until it reads non-signalled or more than timeout_ms has passed
// (INFINITE: no limit). Returns at once when the event is not signalled.
void drain_event(HANDLE event, uint32_t timeout_ms);

// Opens the named event, drains it for at most 1000 ms and sets it. When no
// process has created the event, the guard is left without a handle and
// nothing is set.
void signal_named_event(const std::wstring& name, Event_Guard& guard);

}  // namespace Core_Common
