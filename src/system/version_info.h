// A program file's version resource: the fixed part and six strings.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Core_Common {

inline constexpr size_t kVersionTextMax = 519;

struct version_info {
  std::vector<uint8_t> block;  // the whole resource
  std::array<uint16_t, 4> file_version{};
  std::array<uint16_t, 4> product_version{};
  uint32_t file_flags = 0;
  uint32_t file_os = 0;
  uint32_t file_type = 0;
  uint32_t file_subtype = 0;
  std::wstring path;
  std::wstring company_name;
  std::wstring product_name;
  std::wstring file_description;
  std::wstring legal_copyright;
  std::wstring file_version_text;
  std::wstring product_version_text;
};

// Fills `info` from the file's version resource; false when it has none or
// it cannot be read (the fields are then cleared).
bool read_version_info(const std::wstring& path, version_info& info);
// The same for a caller that owns the record; null on failure.
std::unique_ptr<version_info> make_version_info(const std::wstring& path);

// The named string of the first translation; false, and empty, when the
// translation or the string is missing.
bool query_version_string(const version_info& info, const wchar_t* name, std::wstring& text);

// "FileVersion", at most 199 characters.
std::wstring file_version_text(const version_info& info);

}  // namespace Core_Common
