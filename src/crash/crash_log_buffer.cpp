#include "crash/crash_log_buffer.h"

#include <cstdarg>

namespace Crash_Capture {

namespace {

wchar_t g_buffer[kLogBufferUnits];
size_t g_used = 0;

void flush_if_full(HANDLE file) {
  if (g_used > kLogFlushMark) log_flush(file);
}

}  // namespace

void log_flush(HANDLE file) {
  if (g_used == 0) return;
  DWORD written = 0;
  ::WriteFile(file, g_buffer, static_cast<DWORD>(g_used * sizeof(wchar_t)), &written, nullptr);
  g_used = 0;
}

void log_printf(HANDLE file, const wchar_t* format, ...) {
  flush_if_full(file);
  va_list args;
  va_start(args, format);
  const int n = ::wvsprintfW(g_buffer + g_used, format, args);
  va_end(args);
  if (n > 0) g_used += static_cast<size_t>(n);
}

void log_append(const wchar_t* text, HANDLE file) {
  for (; *text != L'\0'; ++text) {
    flush_if_full(file);
    g_buffer[g_used++] = *text;
  }
}

}  // namespace Crash_Capture
