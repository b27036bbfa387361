#include "ipc/pdu.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "ipc/call_record.h"

namespace Core_IPC {
namespace {

using Core_Common::load_le32;
using Core_Common::store_le32;

TEST(Pdu, LayoutCountsTheTailAndMalformedLengthsAreRefused) {
  const auto record = build_call_record(0, 987, 0, {});
  const Guid id = *parse_guid("{01020304-0506-0708-090A-0B0C0D0E0F10}");
  const auto bytes = encode_pdu(id, PDU::kRequest, record.data(), record.size());
  ASSERT_EQ(bytes.size(), 28u + 31u);
  EXPECT_EQ(load_le32(bytes.data()), 59u);
  EXPECT_EQ(Guid::load(bytes.data() + 4), id);
  EXPECT_EQ(load_le32(bytes.data() + 20), 3u);
  EXPECT_EQ(load_le32(bytes.data() + 24), 28u);

  const auto pdu = decode_pdu(bytes.data(), bytes.size());
  ASSERT_TRUE(pdu);
  EXPECT_EQ(pdu->dialogue_id, id);
  EXPECT_EQ(pdu->type, PDU::kRequest);
  EXPECT_EQ(pdu->payload_size, 28u);

  auto broken = bytes;
  store_le32(broken.data() + 24, 29);
  EXPECT_FALSE(decode_pdu(broken.data(), broken.size()));
  store_le32(broken.data() + 24, 0xFFFFFFE1u);  // wraps to 0 with 31 added
  EXPECT_FALSE(decode_pdu(broken.data(), broken.size()));
  EXPECT_FALSE(decode_pdu(bytes.data(), bytes.size() - 1));
  EXPECT_FALSE(decode_pdu(bytes.data(), 27));
}

}  // namespace
}  // namespace Core_IPC
