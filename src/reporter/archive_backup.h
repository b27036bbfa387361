// Keeps an older crash archive before a new one replaces it: CRASH.ZIP is
// copied to the first free CRASH.ZIP.0001 ... CRASH.ZIP.9999.
#pragma once

#include <filesystem>

namespace Faultpost {

inline constexpr int kMaxArchiveBackups = 9999;

// The archive path with ".%04d" of `number` appended.
std::filesystem::path backup_name(const std::filesystem::path& archive, int number);

// Copies an existing archive to the first backup name that does not exist
// (never over a file); nothing when all are taken or there is no archive.
// Returns the copy's name, empty when none was made.
std::filesystem::path backup_old_archive(const std::filesystem::path& archive);

}  // namespace Faultpost
