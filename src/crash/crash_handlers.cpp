#include "crash/crash_handlers.h"

#include <atomic>
#include <cstdlib>
#include <exception>

#include "crash/crash_report.h"

namespace Crash_Capture {

namespace {

constexpr wchar_t kFilterLabel[] = L"CustomUnhandledExceptionFilter()";
constexpr wchar_t kGuardLabel[] = L"Exception_Debuger";
// Room for the capture, whatever the faulting thread has left.
constexpr SIZE_T kWriterStack = 256 * 1024;

// Set until the first crash takes it.
std::atomic<bool> g_report_pending{true};

[[noreturn]] void end_process() {
  ::TerminateProcess(::GetCurrentProcess(), kCrashExitCode);
  ::ExitProcess(kCrashExitCode);  // not reached
}

struct Report_Job {
  EXCEPTION_POINTERS* pointers;
  const wchar_t* label;
  DWORD thread_id;
  int result;
};

DWORD WINAPI write_report_thread(void* data) {
  auto* job = static_cast<Report_Job*>(data);
  job->result = write_crash_files(job->pointers, job->label, job->thread_id);
  return 0;
}

[[noreturn]] void raise_cpp_exception() {
  ::RaiseException(kCppExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  end_process();
}

void invalid_parameter_handler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
  throw 0;
}

#if !defined(_WIN64)
// The frame crash_guard links into the thread's chain of structured-
// exception handlers (the chain's head is at fs:0).
struct Guard_Frame {
  Guard_Frame* previous;
  EXCEPTION_DISPOSITION(__cdecl* handler)(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
};

EXCEPTION_DISPOSITION __cdecl guard_handler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  constexpr DWORD kUnwinding = 0x6;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
  if (record->ExceptionFlags & kUnwinding) return ExceptionContinueSearch;
  EXCEPTION_POINTERS pointers{record, context};
  if (write_crash_report(&pointers, kGuardLabel) == 1) end_process();
  // No report could be written: the unhandled-exception filter ends it.
  return ExceptionContinueSearch;
}
#endif

// The handler must reach the C runtime the program's functions use: the
// system's msvcrt.dll, whose own export is looked up at run time (the
// compiler's library keeps a handler of its own that msvcrt.dll never
// calls).
void set_invalid_parameter_handler() {
  using Handler = void (*)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t);
  using Set_Handler_Fn = Handler(__cdecl*)(Handler);
  const HMODULE runtime = ::GetModuleHandleW(L"msvcrt.dll");
  const auto set = runtime == nullptr ? nullptr
                                      : reinterpret_cast<Set_Handler_Fn>(reinterpret_cast<void*>(
                                            ::GetProcAddress(runtime, "_set_invalid_parameter_handler")));
  if (set != nullptr) set(invalid_parameter_handler);
  _set_invalid_parameter_handler(invalid_parameter_handler);
}

}  // namespace

int write_crash_report(EXCEPTION_POINTERS* pointers, const wchar_t* handler_label) {
  if (!g_report_pending.exchange(false)) end_process();
  Report_Job job{pointers, handler_label, ::GetCurrentThreadId(), 0};
  const HANDLE writer = ::CreateThread(nullptr, kWriterStack, write_report_thread, &job, 0, nullptr);
  if (writer == nullptr) {
    write_report_thread(&job);
  } else {
    ::WaitForSingleObject(writer, INFINITE);
    ::CloseHandle(writer);
  }
  return job.result;
}

LONG WINAPI CustomUnhandledExceptionFilter(EXCEPTION_POINTERS* pointers) {
  write_crash_report(pointers, kFilterLabel);
  end_process();
}

void install_crash_handlers() {
  ::SetUnhandledExceptionFilter(CustomUnhandledExceptionFilter);
  set_invalid_parameter_handler();
  std::set_terminate(raise_cpp_exception);
}

void crash_guard(const std::function<void()>& body) {
#if defined(_WIN64)
  try {
    body();
  } catch (...) {
    raise_cpp_exception();
  }
#else
  Guard_Frame frame{nullptr, guard_handler};
  asm volatile("movl %%fs:0, %0" : "=r"(frame.previous));
  asm volatile("movl %0, %%fs:0" : : "r"(&frame) : "memory");
  try {
    body();
  } catch (...) {
    raise_cpp_exception();
  }
  asm volatile("movl %0, %%fs:0" : : "r"(frame.previous) : "memory");
#endif
}

}  // namespace Crash_Capture
