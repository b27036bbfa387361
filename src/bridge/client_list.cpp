#include "bridge/client_list.h"

namespace Core_Drovan {

namespace {

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_u64(std::vector<uint8_t>& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

std::vector<uint8_t> serialise_client_list(const Client_List& list) {
  std::vector<uint8_t> out;
  put_u32(out, list.first);
  put_u32(out, list.third);
  put_u32(out, list.fourth);
  put_u32(out, static_cast<uint32_t>(list.items.size()));
  for (const Client_List_Item& item : list.items) {
    put_u32(out, static_cast<uint32_t>(item.name.size() * 2));
    for (const char16_t unit : item.name) {
      out.push_back(static_cast<uint8_t>(unit & 0xFF));
      out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    put_u64(out, item.value);
    put_u32(out, item.first);
    put_u32(out, item.second);
    out.insert(out.end(), item.hash.begin(), item.hash.end());
  }
  return out;
}

std::array<uint8_t, 16> hash_from_hex(const std::u16string& digits) {
  std::array<uint8_t, 16> hash{};
  if (digits.size() != 32) return hash;
  for (size_t i = 0; i < hash.size(); ++i) {
    const int high = hex_value(digits[2 * i]);
    const int low = hex_value(digits[2 * i + 1]);
    // A digit that is not hexadecimal makes the whole hash unknown.
    if (high < 0 || low < 0) return std::array<uint8_t, 16>{};
    hash[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return hash;
}

}  // namespace Core_Drovan
