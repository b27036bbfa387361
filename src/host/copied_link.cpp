#include "host/copied_link.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace Plugin_Host {

std::u16string read_copied_text(const void* data, size_t bytes) {
  std::u16string text;
  if (data == nullptr) return text;
  const auto* raw = static_cast<const unsigned char*>(data);
  for (size_t at = 0; at + 2 <= bytes; at += 2) {
    const char16_t unit = static_cast<char16_t>(raw[at] | (raw[at + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

std::optional<std::u16string> decode_utf8_strictly(std::string_view bytes) {
  std::u16string text;
  size_t at = 0;
  while (at < bytes.size()) {
    const uint8_t lead = static_cast<uint8_t>(bytes[at]);
    size_t length;
    uint32_t value;
    uint32_t least;  // smallest value of this length: anything below is overlong
    if (lead < 0x80) {
      text.push_back(lead);
      ++at;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, value = lead & 0x07, least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (bytes.size() - at < length) return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
      const uint8_t next = static_cast<uint8_t>(bytes[at + i]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return std::nullopt;
    }
    if (value >= 0x10000) {
      value -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(value));
    }
    at += length;
  }
  return text;
}

std::u16string repair_copied_link(const std::u16string& text) {
  const bool all_bytes =
      std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x100; });
  if (!all_bytes) return text;
  std::string bytes(text.begin(), text.end());  // each unit fits a byte
  return decode_utf8_strictly(bytes).value_or(text);
}

}  // namespace Plugin_Host
