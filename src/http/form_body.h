// The bodies of the two POST kinds, byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace OrbwellSearch {

struct FormField {
  FormField(std::string name, std::string value, bool is_file = false, std::string source = std::string())
      : name(std::move(name)), value(std::move(value)), is_file(is_file), source(std::move(source)) {}

  std::string name;
  std::string value;  // for a file field, the file name the part carries
  bool is_file = false;
  // For a file field, the file read, when it is not `value` itself (in the
  // Windows build a UTF-8 path, which any folder name has, while the name
  // on the wire is in the system code page).
  std::string source;
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

// Every field as a part, then the closing delimiter. Nullopt when a file
// cannot be read whole: a form without its file would be taken for a
// complete report.
std::optional<std::vector<uint8_t>> build_multipart_body(const std::vector<FormField>& fields,
                                                         const File_Reader& read_file);

}  // namespace OrbwellSearch
