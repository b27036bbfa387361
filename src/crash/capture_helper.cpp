#include "crash/capture_helper.h"

#include <atomic>

#include "crash/crash_handlers.h"
#include "crash/crash_report.h"

namespace Crash_Capture {

namespace {

// Room for a stack overflow's report, which cannot be written on the stack
// that overflowed.
constexpr SIZE_T kHelperStack = 256 * 1024;

// Process-wide, set once at start and read during a capture: plain handles
// and atomics, no allocation.
HANDLE g_wake = nullptr;  // set when a capture begins
HANDLE g_done = nullptr;  // set when the helper has written a job
std::atomic<Report_Job*> g_job{nullptr};
std::atomic<DWORD> g_bound_ms{0};
std::atomic<DWORD> g_thread{0};

DWORD WINAPI helper_main(void*) {
  ::WaitForSingleObject(g_wake, INFINITE);
  const ULONGLONG begun = ::GetTickCount64();
  if (Report_Job* job = g_job) {
    job->result = write_crash_files(job->pointers, job->label, job->thread_id);
    ::SetEvent(g_done);
  }
  // Whatever the capture still does must end within its bound.
  const ULONGLONG spent = ::GetTickCount64() - begun;
  if (spent < g_bound_ms) ::Sleep(static_cast<DWORD>(g_bound_ms - spent));
  end_crashed_process();
}

}  // namespace

bool start_capture_helper() {
  if (g_thread != 0) return true;
  g_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_wake == nullptr || g_done == nullptr) return false;
  DWORD id = 0;
  const HANDLE thread = ::CreateThread(nullptr, kHelperStack, helper_main, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                       &id);
  if (thread == nullptr) return false;
  ::CloseHandle(thread);
  g_thread = id;
  return true;
}

DWORD capture_helper_thread() { return g_thread; }

void watch_capture(DWORD bound_ms) {
  if (g_thread == 0) return;
  g_bound_ms = bound_ms;
  ::SetEvent(g_wake);
}

namespace {

DWORD WINAPI write_job_thread(void* data) {
  auto* job = static_cast<Report_Job*>(data);
  job->result = write_crash_files(job->pointers, job->label, job->thread_id);
  return 0;
}

}  // namespace

int write_on_helper(Report_Job& job, DWORD bound_ms) {
  if (g_thread != 0) {
    g_job = &job;
    watch_capture(bound_ms);
    if (::WaitForSingleObject(g_done, bound_ms) != WAIT_OBJECT_0) end_crashed_process();
    return job.result;
  }
  // No helper was started: a thread of its own, as the last resort.
  const HANDLE writer = ::CreateThread(nullptr, kHelperStack, write_job_thread, &job, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                       nullptr);
  if (writer == nullptr) return write_crash_files(job.pointers, job.label, job.thread_id);
  if (::WaitForSingleObject(writer, bound_ms) != WAIT_OBJECT_0) end_crashed_process();
  ::CloseHandle(writer);
  return job.result;
}

}  // namespace Crash_Capture
