#include "system/system_info.h"

#include <cstdio>
#include <vector>

#include "system/dos_time_text.h"
#include "system/os_version_table.h"
#include "system/system_library.h"

namespace Core_Common {

bool get_os_version(std::string* version_text, int* os_code, std::string* name) {
  if (version_text == nullptr || name == nullptr) return false;
  *name = kUnknownWindows;
  if (os_code != nullptr) *os_code = 0;

  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExW(&info)) return false;
#pragma GCC diagnostic pop

  const unsigned build = info.dwBuildNumber & 0xffff;
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u", static_cast<unsigned>(info.dwMajorVersion),
                static_cast<unsigned>(info.dwMinorVersion), build);
  *version_text = text;
  const Os_Name os = classify_os_version(info.dwPlatformId, info.dwMajorVersion,
                                         info.dwMinorVersion, build);
  *name = os.name;
  if (os_code != nullptr) *os_code = os.code;
  return true;
}

void format_local_time(const FILETIME& time, std::string& text) {
  text.clear();
  FILETIME local;
  WORD date = 0;
  WORD dos_time = 0;
  if (!::FileTimeToLocalFileTime(&time, &local) || !::FileTimeToDosDateTime(&local, &date, &dos_time)) {
    return;
  }
  text = format_dos_date_time(date, dos_time);
}

uint16_t get_ui_language() {
  LANGID language = ::GetSystemDefaultLangID();
  using Get_Ui_Language_Fn = LANGID(WINAPI*)();
  const System_Library kernel(L"kernel32.dll");
  if (const auto get = kernel.find<Get_Ui_Language_Fn>("GetUserDefaultUILanguage")) language = get();
  return language;
}

std::wstring get_program_dir() {
  const std::wstring path = get_program_path();
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring get_program_path() {
  wchar_t module[MAX_PATH + 1] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring path(module, n);
  const DWORD needed = ::GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed != 0) {
    std::vector<wchar_t> long_path(needed);
    const DWORD got = ::GetLongPathNameW(path.c_str(), long_path.data(), needed);
    if (got != 0 && got < needed) path.assign(long_path.data(), got);
  }
  return path;
}

}  // namespace Core_Common
