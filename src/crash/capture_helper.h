// The capture's helper: a thread started with the handlers, long before any
// fault, since starting one after a fault takes the heap and the loader
// lock, which the faulting thread or another may hold for ever. It waits
// until a capture begins; then it writes a stack overflow's report on a
// stack of its own, and in every case ends the process with 100 once the
// capture has taken longer than its bound, so a capture that hangs still
// ends the host.
#pragma once

#include <windows.h>

namespace Crash_Capture {

// What the helper writes for a thread whose stack overflowed.
struct Report_Job {
  EXCEPTION_POINTERS* pointers;
  const wchar_t* label;
  DWORD thread_id;
  int result;
};

// Starts the helper once; false when it could not be started (a capture
// then runs unwatched, and a stack overflow starts a thread of its own).
bool start_capture_helper();

// The helper's thread id; 0 before it started.
DWORD capture_helper_thread();

// A capture begins: from now on the process ends after `bound_ms` at most.
void watch_capture(DWORD bound_ms);

// Writes `job` on the helper and waits up to `bound_ms` for it; the process
// ends with 100 when it takes longer.
int write_on_helper(Report_Job& job, DWORD bound_ms);

}  // namespace Crash_Capture
