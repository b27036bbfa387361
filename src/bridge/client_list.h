// The item list the host sends the main client (method 7 of its callback
// interface), serialised little-endian:
//
//   0   u32 first value of the plug-in's list header
//   4   u32 third value of the header
//   8   u32 fourth value of the header
//  12   u32 item count n
//  16   n items, back to back:
//         u32  name length in bytes (characters x 2)
//         ...  the name, UTF-16LE, no terminator
//         u64  value
//         u32  first, u32 second
//         16   hash
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Core_Drovan {

struct Client_List_Item {
  std::u16string name;
  uint64_t value = 0;
  uint32_t first = 0;
  uint32_t second = 0;
  std::array<uint8_t, 16> hash{};
};

struct Client_List {
  uint32_t first = 0;
  uint32_t third = 0;
  uint32_t fourth = 0;
  std::vector<Client_List_Item> items;
};

std::vector<uint8_t> serialise_client_list(const Client_List& list);

// A hash given as exactly 32 hexadecimal digits (either case); 16 zero
// bytes for any other text.
std::array<uint8_t, 16> hash_from_hex(const std::u16string& digits);

}  // namespace Core_Drovan
