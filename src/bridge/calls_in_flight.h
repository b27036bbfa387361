// Calls that other threads make into the plug-in's library or out of it
// through the host's callbacks, counted so that the library never goes
// while a thread is still under way in it: a thread that returned into
// unmapped code would take the host down at an ordinary close.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace Core_Drovan {

class Calls_In_Flight {
 public:
  // One call: admitted while the gate is open, counted until it ends.
  class Call {
   public:
    explicit Call(Calls_In_Flight& gate);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool admitted() const { return admitted_; }

   private:
    Calls_In_Flight& gate_;
    bool admitted_;
  };

  void open() { open_ = true; }
  // Admits no new call.
  void close();
  // Waits up to `bound_ms` for the calls in flight, letting messages sent to
  // this thread through meanwhile (a call may be waiting for this thread's
  // windows). False when some are still in flight at the bound.
  bool wait_until_idle(DWORD bound_ms);
  // True when no call was under way as the gate closed and none came since:
  // a thread that was in one may still be running the caller's code after
  // it returned.
  bool quiet_since_close() const { return !busy_at_close_ && refused_ == refused_at_close_; }

 private:
  // Counting instead of locking: a thread calling in a loop would win a
  // lock every time. Both sides are sequentially consistent: either a call
  // sees the gate closed, or the closing thread sees it in flight.
  std::atomic<bool> open_{false};
  std::atomic<int> in_flight_{0};
  // Calls refused ever, and as the gate last closed; whether one was under
  // way then. Counted, not flagged: a flag a refused call cleared could be
  // set again by a close that read the count before that call began.
  std::atomic<uint64_t> refused_{0};
  std::atomic<uint64_t> refused_at_close_{0};
  std::atomic<bool> busy_at_close_{false};
};

}  // namespace Core_Drovan
