// The reporter's files, all in its own directory: the crash files the host
// left, the archive it builds from them, the main client's settings, and
// the host it may restart.
#pragma once

#include <string>

namespace Faultpost {

struct Crash_Log_Values {
  std::wstring program_name;
  std::wstring crash_info;
};

class Report_Files {
 public:
  // `directory` without a final backslash.
  explicit Report_Files(std::wstring directory);

  // "Program name: " and "crash info: " of CRASHLOG.TXT; empty when absent.
  Crash_Log_Values read_crash_log() const;

  // Keeps an older CRASH.ZIP, points the dump's paths at a neutral
  // directory and packs the three crash files into CRASH.ZIP. False, with
  // nothing done, when there is no CRASH.DMP, and false when the archive
  // could not be written whole with the crash log in it: such a report
  // would be lost while the user is told it was sent.
  bool prepare(const std::wstring& app_argument) const;

  // The client's install id, empty when unknown.
  std::string install_id() const;

  // Starts the host beside the reporter without arguments, once per process;
  // nothing when it is not there.
  void restart_host() const;

  std::wstring archive_path() const { return directory_ + L"\\CRASH.ZIP"; }

 private:
  std::wstring file(const wchar_t* name) const { return directory_ + L"\\" + name; }

  std::wstring directory_;
};

// The system code page's bytes of a text, and back.
std::string to_system_code_page(const std::wstring& text);
std::wstring from_system_code_page(const std::string& text);

}  // namespace Faultpost
