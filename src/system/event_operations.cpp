#include "system/event_operations.h"

namespace Core_Common {

namespace {

constexpr DWORD kDrainPollMs = 10;
constexpr uint32_t kSignalDrainLimitMs = 1000;

}  // namespace

void drain_event(HANDLE event, uint32_t timeout_ms) {
  const DWORD start = ::GetTickCount();
  while (::WaitForSingleObject(event, 0) == WAIT_OBJECT_0) {
    if (timeout_ms != INFINITE && ::GetTickCount() - start > timeout_ms) return;
    ::Sleep(kDrainPollMs);
  }
}

void signal_named_event(const std::wstring& name, Event_Guard& guard) {
  guard.timeout_ms = kSignalDrainLimitMs;
  guard.event.reset(::OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str()));
  if (!guard.event) return;
  drain_event(guard.event.get(), guard.timeout_ms);
  ::SetEvent(guard.event.get());
}

}  // namespace Core_Common
