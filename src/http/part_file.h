// Reading the file of a multipart file part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace OrbwellSearch {

// The file at `path` (UTF-8) as the send reads it: in pieces of 1024
// bytes, never past the size it had when opened. Nullopt when it cannot be
// opened or read to that size.
std::optional<std::vector<uint8_t>> read_part_file(const std::string& path);

}  // namespace OrbwellSearch
