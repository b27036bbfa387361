#include "ipc/guid.h"

#include <cstdio>

#include "base/byte_order.h"

namespace Core_IPC {

using Core_Common::load_le16;
using Core_Common::load_le32;
using Core_Common::store_le16;
using Core_Common::store_le32;

void Guid::store(uint8_t* out) const {
  store_le32(out, data1);
  store_le16(out + 4, data2);
  store_le16(out + 6, data3);
  for (size_t i = 0; i < data4.size(); ++i) out[8 + i] = data4[i];
}

Guid Guid::load(const uint8_t* in) {
  Guid g;
  g.data1 = load_le32(in);
  g.data2 = load_le16(in + 4);
  g.data3 = load_le16(in + 6);
  for (size_t i = 0; i < g.data4.size(); ++i) g.data4[i] = in[8 + i];
  return g;
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<Guid> parse_guid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;

  // 32 hex digits with dashes after the 8th, 12th, 16th and 20th.
  uint8_t digits[16] = {};
  size_t nibble = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int v = hex_value(text[i]);
    if (v < 0) return std::nullopt;
    digits[nibble / 2] = static_cast<uint8_t>(digits[nibble / 2] << 4 | v);
    ++nibble;
  }

  Guid g;
  g.data1 = static_cast<uint32_t>(digits[0]) << 24 | static_cast<uint32_t>(digits[1]) << 16 |
            static_cast<uint32_t>(digits[2]) << 8 | digits[3];
  g.data2 = static_cast<uint16_t>(digits[4] << 8 | digits[5]);
  g.data3 = static_cast<uint16_t>(digits[6] << 8 | digits[7]);
  for (size_t i = 0; i < 8; ++i) g.data4[i] = digits[8 + i];
  return g;
}

std::string format_guid(const Guid& g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return buf;
}

std::wstring endpoint_event_name(const Guid& g) {
  std::wstring name = std::to_wstring(g.data1) + std::to_wstring(g.data2) + std::to_wstring(g.data3);
  for (uint8_t b : g.data4) name += std::to_wstring(b);
  return name;
}

}  // namespace Core_IPC
