// The two values the reporter reads from CRASHLOG.TXT (UTF-16LE, written by
// the host's crash capture): the text of the "Program name: " line and of
// the "crash info: " line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace Faultpost {

// Only files of 1 byte to 1 MiB are read.
inline constexpr size_t kMaxReadFile = 1048576;

// The UTF-16LE bytes between the first `key` (given in ASCII, searched as
// UTF-16LE) and the next "\r\n" after it; nothing when either is missing
// or the value is longer than 100 bytes or of odd length.
std::optional<std::string> crash_log_value(const std::string& log_bytes, const char* key);

}  // namespace Faultpost
