// The bodies of the two POST kinds, byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace OrbwellSearch {

struct FormField {
  std::string name;
  std::string value;  // for a file field, the path of the file sent
  bool is_file = false;
};

inline constexpr char kMultipartBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
inline constexpr char kMultipartContentType[] =
    "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";
inline constexpr char kUrlEncodedContentType[] =
    "Content-Type: application/x-www-form-urlencoded\r\n";

// name=value pairs joined by '&', without escaping; file flags are ignored.
std::string build_urlencoded_body(const std::vector<FormField>& fields);

// Reads a file field's content; nullopt when the file cannot be opened.
using File_Reader = std::function<std::optional<std::vector<uint8_t>>(const std::string& path)>;

// Every field as a part, then the closing delimiter. A file that cannot be
// read contributes its part header alone.
std::vector<uint8_t> build_multipart_body(const std::vector<FormField>& fields,
                                          const File_Reader& read_file);

}  // namespace OrbwellSearch
