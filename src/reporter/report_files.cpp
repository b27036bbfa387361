#include "reporter/report_files.h"

#include <windows.h>

#include <atomic>
#include <system_error>

#include "reporter/archive_backup.h"
#include "reporter/crash_log_values.h"
#include "reporter/dump_path_patch.h"
#include "reporter/install_id.h"
#include "system/file_helper.h"
#include "system/utf8_text.h"
#include "zip/zip_archive.h"

namespace Faultpost {

namespace {

// A file of 1 byte to 1 MiB, whole; nothing otherwise. The size is looked
// at before anything is read: a huge file is never loaded.
bool read_small_file(const std::wstring& path, std::string& content) {
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) ||
      attributes.nFileSizeHigh != 0 || attributes.nFileSizeLow == 0 || attributes.nFileSizeLow > kMaxReadFile) {
    return false;
  }
  try {
    if (!Core_Common::read_whole_file(path, content)) return false;
  } catch (const std::system_error&) {
    return false;
  }
  return !content.empty() && content.size() <= kMaxReadFile;
}

std::wstring from_utf16le(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return text;
}

std::u16string to_u16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// One step of the dump's rewriting works on the file as it is now.
void patch_dump(const std::wstring& dump_path, const std::wstring& directory, const std::wstring& app_argument) {
  std::string dump;
  if (!read_small_file(dump_path, dump)) return;
  if (!patch_dump_paths(dump, to_u16(directory), to_u16(app_argument))) return;
  try {
    Core_Common::write_whole_file(dump_path, dump);
  } catch (const std::system_error&) {
    // The dump goes as it was.
  }
}

std::atomic<bool> g_host_restarted{false};

}  // namespace

std::string to_system_code_page(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  }
  return out;
}

std::wstring from_system_code_page(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

Report_Files::Report_Files(std::wstring directory) : directory_(std::move(directory)) {}

Crash_Log_Values Report_Files::read_crash_log() const {
  Crash_Log_Values values;
  std::string log;
  if (!read_small_file(file(L"CRASHLOG.TXT"), log)) return values;
  if (const auto name = crash_log_value(log, "Program name: ")) {
    values.program_name = from_utf16le(*name);
    if (const auto info = crash_log_value(log, "crash info: ")) values.crash_info = from_utf16le(*info);
  }
  return values;
}

bool Report_Files::prepare(const std::wstring& app_argument) const {
  const std::wstring dump = file(L"CRASH.DMP");
  if (::GetFileAttributesW(dump.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  backup_old_archive(std::filesystem::path(archive_path()));
  patch_dump(dump, directory_, app_argument);

  // Through UTF-8 paths, which any folder name has: the system code page
  // has no form for many (a Chinese folder on an English Windows).
  using Core_Common::narrow_utf8;
  auto archive = Zip::OpenArchive(narrow_utf8(archive_path()));
  if (!archive) return false;
  // The dump and the system log as far as they can be read (the crash log
  // says why a dump is missing); the crash log itself must be in.
  Zip::AddArchiveEntry(archive.get(), "CRASH.DMP", narrow_utf8(dump));
  Zip::AddArchiveEntry(archive.get(), "CRASHLOG.DAT", narrow_utf8(file(L"CRASHLOG.DAT")));
  const bool logged = Zip::AddArchiveEntry(archive.get(), "CRASHLOG.TXT", narrow_utf8(file(L"CRASHLOG.TXT"))) ==
                      Zip::AR_OK;
  return Zip::CloseArchive(std::move(archive)) == Zip::AR_OK && logged;
}

std::string Report_Files::install_id() const {
  std::string configuration;
  if (!read_small_file(file(L"Orbwell.xml"), configuration)) return std::string();
  return install_id_from(configuration);
}

void Report_Files::restart_host() const {
  std::wstring host = file(L"plugin_Drovan.exe");
  if (g_host_restarted || ::GetFileAttributesW(host.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  if (g_host_restarted.exchange(true)) return;
  if (::CreateProcessW(host.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

}  // namespace Faultpost
