#include "ipc/guid.h"

#include <gtest/gtest.h>

#include "ipc/channel_identity.h"

namespace Core_IPC {
namespace {

TEST(EndpointEventName, IsTheDecimalFieldsOfBothEnds) {
  EXPECT_EQ(endpoint_event_name(kHostEndpointId), L"375233758215328169281601361784210120242104");
  EXPECT_EQ(endpoint_event_name(kClientEndpointId), L"3349796255123219076175235282402451186256");
  EXPECT_EQ(endpoint_event_name(Guid{}), L"00000000000");
}

TEST(Guid, ParsesAndFormatsTheRegistryForm) {
  const auto g = parse_guid("{dfa820ae-3be0-4220-a088-b22a6514f268}");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->data1, 0xDFA820AEu);
  EXPECT_EQ(g->data2, 0x3BE0);
  EXPECT_EQ(g->data3, 0x4220);
  EXPECT_EQ(g->data4[0], 0xA0);
  EXPECT_EQ(g->data4[7], 0x68);
  EXPECT_EQ(format_guid(*g), "{DFA820AE-3BE0-4220-A088-B22A6514F268}");
  EXPECT_EQ(parse_guid("DFA820AE-3BE0-4220-A088-B22A6514F268"), g);

  for (const char* bad : {"", "{}", "{DFA820AE-3BE0-4220-A088-B22A6514F26}",
                          "{DFA820AE-3BE0-4220-A088+B22A6514F268}",
                          "{DFA820AE-3BE0-4220-A088-B22A6514F26G}",
                          "(DFA820AE-3BE0-4220-A088-B22A6514F268)"}) {
    EXPECT_FALSE(parse_guid(bad)) << bad;
  }
}

TEST(Guid, WireFormIsLittleEndianFieldsThenData4) {
  uint8_t bytes[16];
  kHostEndpointId.store(bytes);
  const uint8_t expected[16] = {0xAE, 0x20, 0xA8, 0xDF, 0xE0, 0x3B, 0x20, 0x42,
                                0xA0, 0x88, 0xB2, 0x2A, 0x65, 0x14, 0xF2, 0x68};
  EXPECT_EQ(0, memcmp(bytes, expected, sizeof bytes));
  EXPECT_EQ(Guid::load(bytes), kHostEndpointId);
  EXPECT_TRUE(Guid{}.is_null());
  EXPECT_FALSE(kHostEndpointId.is_null());
}

}  // namespace
}  // namespace Core_IPC
