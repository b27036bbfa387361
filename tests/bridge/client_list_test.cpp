#include "bridge/client_list.h"

#include <gtest/gtest.h>

namespace Core_Drovan {
namespace {

TEST(ClientListTest, TheListIsSerialisedFieldByFieldLittleEndian) {
  Client_List list;
  list.first = 1;
  list.third = 0x03030303;
  list.fourth = 4;
  Client_List_Item item;
  item.name = u"a\u4E2D";
  item.value = 0x0102030405060708;
  item.first = 9;
  item.second = 10;
  item.hash[0] = 0xAA;
  item.hash[15] = 0xBB;
  list.items.push_back(item);
  const std::vector<uint8_t> expected = {
      1, 0, 0, 0, 3, 3, 3, 3, 4, 0, 0, 0, 1, 0, 0, 0,  // header and count
      4, 0, 0, 0, 'a', 0, 0x2D, 0x4E,                  // name: 2 characters, 4 bytes
      8, 7, 6, 5, 4, 3, 2, 1, 9, 0, 0, 0, 10, 0, 0, 0,  // value, first, second
      0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBB};
  EXPECT_EQ(serialise_client_list(list), expected);
  EXPECT_EQ(serialise_client_list(Client_List{}), std::vector<uint8_t>(16, 0));
}

TEST(ClientListTest, OnlyExactlyThirtyTwoHexDigitsMakeAHash) {
  const auto hash = hash_from_hex(u"00112233445566778899aabbccDDEEFF");
  EXPECT_EQ(hash[0], 0x00);
  EXPECT_EQ(hash[1], 0x11);
  EXPECT_EQ(hash[15], 0xFF);
  const std::array<uint8_t, 16> zero{};
  EXPECT_EQ(hash_from_hex(u"00112233445566778899aabbccddeef"), zero);    // 31
  EXPECT_EQ(hash_from_hex(u"00112233445566778899aabbccddeeff0"), zero);  // 33
  EXPECT_EQ(hash_from_hex(u"0011223344556677889gaabbccddeeff"), zero);   // not hex
  EXPECT_EQ(hash_from_hex(u""), zero);
}

}  // namespace
}  // namespace Core_Drovan
