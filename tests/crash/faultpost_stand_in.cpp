// Stands in for another program in tests (the reporter beside a crashing
// program, the host beside the reporter): records the command line it was
// started with in "<its name>.args" beside itself (UTF-8, a line per
// start), and when it started in "<its name>.time" (100 ns ticks of the
// system time), and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring record(path, n);
  const std::wstring stem = record.substr(0, record.find_last_of(L'.'));
  record = stem + L".args";
  const wchar_t* command = ::GetCommandLineW();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, command, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, command, -1, text.data(), size, nullptr, nullptr);
  if (FILE* out = _wfopen(record.c_str(), L"ab")) {
    std::fprintf(out, "%s\n", text.c_str());
    std::fclose(out);
  }
  if (FILE* out = _wfopen((stem + L".time").c_str(), L"wb")) {
    std::fprintf(out, "%llu\n", (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    std::fclose(out);
  }
  return 0;
}
