#include "crash/crash_handlers.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>

#include "crash/capture_helper.h"
#include "crash/crash_report.h"
#include "crash/minidump.h"

namespace Crash_Capture {

namespace {

constexpr wchar_t kFilterLabel[] = L"CustomUnhandledExceptionFilter()";
constexpr wchar_t kGuardLabel[] = L"Exception_Debuger";
// How long a capture may take before its helper ends the process without
// it (a stack overflow's report, written on the helper, gets less), and how
// long a thread that faulted during another thread's capture waits for
// that capture to end the process.
constexpr DWORD kCaptureBoundMs = 60000;
constexpr DWORD kOverflowBoundMs = 30000;
// What GCC's 64-bit unwinder raises to throw a C++ exception: one that
// reaches the filter was thrown where nothing catches it, and the stack
// still holds the place it was thrown from.
constexpr DWORD kGccThrowCode = 0x20474343;

// The thread that took the capture; 0 until a fault takes it.
std::atomic<DWORD> g_capturing_thread{0};

// Another thread's capture ends the process; this thread only waits for
// that, so the report it writes is complete. Sleeping touches neither the
// heap nor the loader lock.
[[noreturn]] void wait_for_other_capture() {
  for (DWORD waited = 0; waited < kCaptureBoundMs; waited += 100) ::Sleep(100);
  end_crashed_process();
}

[[noreturn]] void raise_cpp_exception() {
  ::RaiseException(kCppExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  end_crashed_process();
}

// abort() of the shared C runtime, whoever called it: a plug-in's own copy
// of the C++ runtime ends there when an exception leaves the plug-in's
// code uncaught, with the stack still as it was at the throw.
void abort_signal_handler(int) { raise_cpp_exception(); }

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
  if (write_crash_report(&pointers, kGuardLabel) == 1) end_crashed_process();
  // No report could be written: the unhandled-exception filter ends it.
  return ExceptionContinueSearch;
}

// Links a guard frame into the chain for its lifetime, and out again even
// when a caller further up catches what passes through.
class Guard_Registration {
 public:
  Guard_Registration() {
    asm volatile("movl %%fs:0, %0" : "=r"(frame_.previous));
    asm volatile("movl %0, %%fs:0" : : "r"(&frame_) : "memory");
  }
  ~Guard_Registration() { asm volatile("movl %0, %%fs:0" : : "r"(frame_.previous) : "memory"); }
  Guard_Registration(const Guard_Registration&) = delete;
  Guard_Registration& operator=(const Guard_Registration&) = delete;

 private:
  Guard_Frame frame_{nullptr, guard_handler};
};
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

void end_crashed_process() {
  ::TerminateProcess(::GetCurrentProcess(), kCrashExitCode);
  ::ExitProcess(kCrashExitCode);  // not reached
}

int write_crash_report(EXCEPTION_POINTERS* pointers, const wchar_t* handler_label) {
  const DWORD self = ::GetCurrentThreadId();
  DWORD owner = 0;
  if (!g_capturing_thread.compare_exchange_strong(owner, self)) {
    // A fault of the capture itself ends the process as far as it got.
    if (owner == self || capture_helper_thread() == self) end_crashed_process();
    wait_for_other_capture();
  }
  // A C++ exception thrown where nothing catches it is reported as one,
  // with the context of its throw.
  EXCEPTION_RECORD record = *pointers->ExceptionRecord;
  EXCEPTION_POINTERS reported{&record, pointers->ContextRecord};
  if (record.ExceptionCode == kGccThrowCode) {
    record.ExceptionCode = kCppExceptionCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.NumberParameters = 0;
  }
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    Report_Job job{&reported, handler_label, self, 0};
    return write_on_helper(job, kOverflowBoundMs);
  }
  watch_capture(kCaptureBoundMs);
  return write_crash_files(&reported, handler_label, self);
}

LONG WINAPI CustomUnhandledExceptionFilter(EXCEPTION_POINTERS* pointers) {
  write_crash_report(pointers, kFilterLabel);
  end_crashed_process();
}

void install_crash_handlers() {
  prepare_minidump();
  start_capture_helper();
  ::SetUnhandledExceptionFilter(CustomUnhandledExceptionFilter);
  set_invalid_parameter_handler();
  std::set_terminate(raise_cpp_exception);
  std::signal(SIGABRT, abort_signal_handler);
}

// Nothing here catches a C++ exception: one that nothing catches ends in
// std::terminate (or, in the 64-bit build, in the filter) before a single
// frame is unwound, so the report shows where it was thrown.
void crash_guard(const std::function<void()>& body) {
#if defined(_WIN64)
  body();
#else
  Guard_Registration guard;
  body();
#endif
}

}  // namespace Crash_Capture
