#include "reporter/unsent_reports.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "reporter/unsent_report_rules.h"
#include "system/file_helper.h"
#include "system/utf8_text.h"

namespace Faultpost {

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kFolderName[] = L"Unsent Reports";
constexpr wchar_t kArchiveName[] = L"CRASH.ZIP";
constexpr wchar_t kFieldsName[] = L"fields.txt";
constexpr wchar_t kMessageName[] = L"message.txt";
constexpr wchar_t kDroppedName[] = L"dropped.txt";
constexpr uint64_t kMaxSmallFile = 64 * 1024;

bool read_small(const fs::path& path, std::string& content) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > kMaxSmallFile) return false;
  try {
    return Core_Common::read_whole_file(path.wstring(), content);
  } catch (const std::system_error&) {
    return false;
  }
}

bool write_small(const fs::path& path, const std::string& content) {
  try {
    Core_Common::write_whole_file(path.wstring(), content);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

uint64_t folder_bytes(const fs::path& folder) {
  uint64_t bytes = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const auto size = it->file_size(error);
    if (!error) bytes += size;
    error.clear();
  }
  return bytes;
}

// A name no entry has, finished or being written: the sequence number
// moves on past any taken one.
std::wstring new_entry_name(const fs::path& folder) {
  static std::atomic<unsigned> sequence{0};
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  std::error_code error;
  for (unsigned tries = 0;; ++tries) {
    const std::wstring name = Core_Common::widen_utf8(unsent_entry_name(
        now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
        (::GetCurrentProcessId() + sequence++) % 10000));
    if (tries >= 10000 || (!fs::exists(folder / name, error) && !fs::exists(folder / (name + L".part"), error))) {
      return name;
    }
  }
}

// An entry whose writing was cut short (the reporter ended mid-copy) and
// that no reporter has touched for an hour.
bool abandoned(const fs::directory_entry& entry) {
  std::error_code error;
  if (entry.path().extension() != L".part" || !entry.is_directory(error)) return false;
  const auto written = entry.last_write_time(error);
  return !error && fs::file_time_type::clock::now() - written > std::chrono::hours(1);
}

}  // namespace

Unsent_Reports::Unsent_Reports(const std::wstring& directory) : folder_(directory + L"\\" + kFolderName) {}

bool Unsent_Reports::keep(const std::wstring& archive, const std::string& app_version,
                          const std::string& install_id, const std::string& user_message) const {
  std::error_code error;
  const auto archive_bytes = fs::file_size(archive, error);
  if (error || archive_bytes == 0) return false;
  fs::create_directories(folder_, error);

  std::vector<Unsent_Entry> entries;
  std::vector<fs::path> leftovers;
  for (fs::directory_iterator it(fs::path(folder_), error), end; !error && it != end; it.increment(error)) {
    const std::string name = Core_Common::narrow_utf8(it->path().filename().wstring());
    if (is_unsent_entry_name(name)) entries.push_back({name, folder_bytes(it->path())});
    if (abandoned(*it)) leftovers.push_back(it->path());
  }
  for (const fs::path& leftover : leftovers) fs::remove_all(leftover, error);
  const Unsent_Admission admission = admit_unsent(entries, archive_bytes + user_message.size());
  for (const std::string& name : admission.drop) fs::remove_all(fs::path(folder_) / Core_Common::widen_utf8(name), error);
  count_dropped(admission.drop.size() + (admission.keep_incoming ? 0 : 1));
  if (!admission.keep_incoming) return false;

  const std::wstring name = new_entry_name(folder_);
  const fs::path partial = fs::path(folder_) / (name + L".part");
  fs::remove_all(partial, error);
  const bool written =
      fs::create_directory(partial, error) &&
      ::CopyFileW(archive.c_str(), (partial / kArchiveName).c_str(), TRUE) &&
      fs::file_size(partial / kArchiveName, error) == archive_bytes &&
      write_small(partial / kMessageName, user_message) &&
      write_small(partial / kFieldsName, format_unsent_fields({app_version, install_id})) &&
      ::MoveFileExW(partial.c_str(), (fs::path(folder_) / name).c_str(), MOVEFILE_WRITE_THROUGH);
  if (!written) fs::remove_all(partial, error);
  return written;
}

std::vector<Unsent_Report> Unsent_Reports::list() const {
  std::vector<std::pair<std::string, fs::path>> named;
  std::error_code error;
  for (fs::directory_iterator it(fs::path(folder_), error), end; !error && it != end; it.increment(error)) {
    const std::string name = Core_Common::narrow_utf8(it->path().filename().wstring());
    if (is_unsent_entry_name(name)) named.emplace_back(name, it->path());
  }
  std::sort(named.begin(), named.end());
  std::vector<Unsent_Report> reports;
  for (const auto& [name, folder] : named) {
    std::string fields_text, message;
    if (!read_small(folder / kFieldsName, fields_text) || !read_small(folder / kMessageName, message)) continue;
    const auto fields = parse_unsent_fields(fields_text);
    if (!fields || !fs::is_regular_file(folder / kArchiveName, error)) continue;
    reports.push_back({folder.wstring(), fields->app_version, fields->install_id, message,
                       (folder / kArchiveName).wstring()});
  }
  return reports;
}

void Unsent_Reports::remove(const Unsent_Report& report) const {
  std::error_code error;
  fs::remove_all(report.folder, error);
}

uint64_t Unsent_Reports::dropped() const {
  std::string text;
  if (!read_small(fs::path(folder_) / kDroppedName, text)) return 0;
  return std::strtoull(text.c_str(), nullptr, 10);
}

void Unsent_Reports::count_dropped(uint64_t more) const {
  if (more == 0) return;
  write_small(fs::path(folder_) / kDroppedName, std::to_string(dropped() + more) + "\n");
}

}  // namespace Faultpost
