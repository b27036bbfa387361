// The crash files beside the host's executable (CRASH.DMP, CRASHLOG.TXT,
// an empty CRASHLOG.DAT) and the start of the reporter on them. Runs after
// a fault, so it allocates nothing on the heap: every path and text lives
// in a fixed buffer.
#pragma once

#include <windows.h>

namespace Crash_Capture {

// The reporter, beside the host.
inline constexpr wchar_t kReporterName[] = L"Faultpost.exe";

// Writes the files and starts the reporter; 1 when CRASHLOG.TXT was written
// and the reporter started, 0 when CRASHLOG.TXT could not be created.
// `thread_id` names the faulting thread, which need not be the caller.
int write_crash_files(EXCEPTION_POINTERS* pointers, const wchar_t* handler_label, DWORD thread_id);

}  // namespace Crash_Capture
