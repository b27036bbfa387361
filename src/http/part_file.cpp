#include "http/part_file.h"

#include <windows.h>

#include <algorithm>

#include "system/unique_handle.h"
#include "system/utf8_text.h"

namespace OrbwellSearch {

std::optional<std::vector<uint8_t>> read_part_file(const std::string& path) {
  Core_Common::Unique_Handle file(::CreateFileW(Core_Common::widen_utf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  const DWORD size = ::GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return std::nullopt;
  std::vector<uint8_t> content;
  content.reserve(size);
  uint8_t buffer[1024];
  DWORD got = 0;
  while (content.size() < size && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got != 0) {
    const size_t keep = std::min<size_t>(got, size - content.size());
    content.insert(content.end(), buffer, buffer + keep);
  }
  if (content.size() != size) return std::nullopt;
  return content;
}

}  // namespace OrbwellSearch
