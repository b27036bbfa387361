// The staging buffer CRASHLOG.TXT is formatted into: 131,072 UTF-16 units,
// process-wide and static, so writing a crash log allocates nothing. It is
// flushed to the file when more than 130,048 units are pending (one
// formatted piece, at most 1,024 units, always fits behind that mark) and
// once at the end. Used by one thread at a time: the one writing a report.
#pragma once

#include <windows.h>

namespace Crash_Capture {

inline constexpr size_t kLogBufferUnits = 131072;
inline constexpr size_t kLogFlushMark = 130048;

// Formats with wvsprintfW rules ("%s" is a wide text), at most 1,024 units.
void log_printf(HANDLE file, const wchar_t* format, ...);
// Copies the text as it is.
void log_append(const wchar_t* text, HANDLE file);
// Writes what is pending and empties the buffer.
void log_flush(HANDLE file);

}  // namespace Crash_Capture
