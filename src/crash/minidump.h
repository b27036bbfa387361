// CRASH.DMP: a minidump of the process through the system's debug-help
// library. The library is loaded before any fault (prepare_minidump), since
// loading it during a capture needs the loader lock, which another thread
// may hold for ever once the process has faulted.
#pragma once

#include <windows.h>

namespace Crash_Capture {

// Loads the debug-help library and looks up its dump function, once. A
// missing library or function leaves every later dump empty.
void prepare_minidump();

// `thread_id` is the faulting thread's, which may differ from the caller's.
// Without exception pointers the dump records a breakpoint raised here.
// False when no dump was written.
bool write_minidump(HANDLE file, EXCEPTION_POINTERS* pointers, DWORD thread_id);

}  // namespace Crash_Capture
