#include "reporter/crash_log_values.h"

namespace Faultpost {

namespace {

constexpr size_t kMaxValueBytes = 100;

std::string utf16le(const char* ascii) {
  std::string bytes;
  for (; *ascii != '\0'; ++ascii) bytes += std::string{*ascii, '\0'};
  return bytes;
}

}  // namespace

std::optional<std::string> crash_log_value(const std::string& log_bytes, const char* key) {
  const std::string wide_key = utf16le(key);
  const size_t key_at = log_bytes.find(wide_key);
  if (key_at == std::string::npos) return std::nullopt;
  const size_t begin = key_at + wide_key.size();
  const size_t end = log_bytes.find(utf16le("\r\n"), begin);
  if (end == std::string::npos) return std::nullopt;
  const size_t length = end - begin;
  if (length > kMaxValueBytes || length % 2 != 0) return std::nullopt;
  return log_bytes.substr(begin, length);
}

}  // namespace Faultpost
