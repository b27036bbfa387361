#include "reporter/archive_backup.h"

#include <cstdio>
#include <system_error>

namespace Faultpost {

std::filesystem::path backup_name(const std::filesystem::path& archive, int number) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%04d", number);
  std::filesystem::path name = archive;
  name += suffix;
  return name;
}

std::filesystem::path backup_old_archive(const std::filesystem::path& archive) {
  std::error_code error;
  if (!std::filesystem::exists(archive, error)) return {};
  for (int number = 1; number <= kMaxArchiveBackups; ++number) {
    const std::filesystem::path candidate = backup_name(archive, number);
    if (std::filesystem::exists(candidate, error)) continue;
    // Never over a file: one that appeared meanwhile makes the copy fail.
    if (std::filesystem::copy_file(archive, candidate, std::filesystem::copy_options::none, error)) {
      return candidate;
    }
    return {};
  }
  return {};
}

}  // namespace Faultpost
