// CRASH.DMP: a minidump of the process through the system's debug-help
// library, looked up at run time. A missing library or function leaves the
// file empty.
#pragma once

#include <windows.h>

namespace Crash_Capture {

// `thread_id` is the faulting thread's, which may differ from the caller's.
// Without exception pointers the dump records a breakpoint raised here.
void write_minidump(HANDLE file, EXCEPTION_POINTERS* pointers, DWORD thread_id);

}  // namespace Crash_Capture
