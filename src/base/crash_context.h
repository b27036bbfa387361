// The "debug info" slot: a text that code about to raise a fatal error
// leaves for the crash log to print.
#pragma once

#include <string>

namespace Core_Common {

inline constexpr size_t kCrashContextMax = 1024;

// Stores the text, cut to kCrashContextMax characters.
void set_crash_context_text(const std::wstring& text);
std::wstring crash_context_text();
// For the crash log: copies the text, terminated, into `out` without
// allocating or waiting (nothing when another thread is storing one).
// Returns the characters copied.
size_t copy_crash_context_text(wchar_t* out, size_t capacity);

}  // namespace Core_Common
