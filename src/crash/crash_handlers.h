// How a fault of the host ends: at most one crash report (see
// crash_report.h), then exit code 100. Structured exceptions that nothing
// handles, C++ exceptions that nothing catches (the fatal internal error
// among them) and invalid parameters of the C runtime all end here.
#pragma once

#include <windows.h>

#include <functional>

namespace Crash_Capture {

inline constexpr UINT kCrashExitCode = 100;
// What an uncaught C++ exception is reported as.
inline constexpr DWORD kCppExceptionCode = 0xE06D7363;

// Ends the process at once with kCrashExitCode, whatever else runs.
[[noreturn]] void end_crashed_process();

// The unhandled-exception filter, the run-time library's invalid-parameter
// handler and the handler of uncaught C++ exceptions. Called again at the
// start of the message loop, in case a library replaced the filter.
void install_crash_handlers();

// The report, once per process, written on the faulting thread: the heap
// and loader locks it may hold are its own to re-enter there, and another
// thread could wait for them for ever. Only a stack overflow is written on a
// helper thread with a stack of its own, started with the handlers and
// waited for at most 30 s; that helper also ends the process once any
// capture has taken 60 s (see capture_helper.h). A fault of
// the capture itself ends the process at once with 100; a fault on any
// other thread meanwhile waits for the capture, which ends the process, so
// the first report is always complete. Returns 1 when CRASHLOG.TXT was
// written and the reporter started.
int write_crash_report(EXCEPTION_POINTERS* pointers, const wchar_t* handler_label);

LONG WINAPI CustomUnhandledExceptionFilter(EXCEPTION_POINTERS* pointers);

// Runs `body`; a fault that escapes it is reported with the label
// "Exception_Debuger" and ends the process with 100. In the 32-bit build it
// is a structured-exception frame of its own; the 64-bit build has no such
// frames in this compiler, and there a structured exception travels on to
// the unhandled-exception filter, which reports it under its own label. In
// both, a C++ exception that nothing catches is reported as "a Microsoft
// C++ Exception" where it was thrown, before anything is unwound.
void crash_guard(const std::function<void()>& body);

}  // namespace Crash_Capture
