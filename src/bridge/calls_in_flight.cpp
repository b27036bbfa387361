#include "bridge/calls_in_flight.h"

namespace Core_Drovan {

Calls_In_Flight::Call::Call(Calls_In_Flight& gate) : gate_(gate) {
  ++gate_.in_flight_;
  admitted_ = gate_.open_;
  if (!admitted_) ++gate_.refused_;
}

// The order matters: a call that is not counted in flight by the time the
// count is read began after the gate closed, and is refused after the
// snapshot of the refusals.
void Calls_In_Flight::close() {
  open_ = false;
  refused_at_close_ = refused_.load();
  busy_at_close_ = in_flight_ != 0;
}

Calls_In_Flight::Call::~Call() { --gate_.in_flight_; }

bool Calls_In_Flight::wait_until_idle(DWORD bound_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + bound_ms;
  while (in_flight_ != 0) {
    if (::GetTickCount64() >= deadline) return false;
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    ::Sleep(1);
  }
  return true;
}

}  // namespace Core_Drovan
