#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "ipc/channel_identity.h"
#include "ipc/channel_names.h"
#include "ipc/medium_message.h"
#include "ipc/route_envelope.h"

namespace Core_IPC {
namespace {

using Core_Common::load_le32;
using Core_Common::store_le32;

const Guid kOther = *parse_guid("{00112233-4455-6677-8899-AABBCCDDEEFF}");

TEST(MediumMessage, SizeCountsHeaderBodyAndTail) {
  const uint8_t body[5] = {1, 2, 3, 4, 5};
  const auto bytes = encode_medium_message(kOther, body, sizeof body);
  ASSERT_EQ(bytes.size(), 5u + 23u);
  EXPECT_EQ(load_le32(bytes.data()), 28u);
  EXPECT_EQ(Guid::load(bytes.data() + 4), kOther);
  EXPECT_EQ(0, memcmp(bytes.data() + 20, body, sizeof body));

  const auto decoded = decode_medium_message(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->message_id, kOther);
  EXPECT_EQ(decoded->body_size, 5u);
  EXPECT_EQ(decoded->body, bytes.data() + 20);
}

TEST(MediumMessage, SizeFieldOutsideTheViewIsRejected) {
  std::vector<uint8_t> view(64, 0);
  const auto size_for = [&](uint32_t field) {
    store_le32(view.data(), field);
    return medium_message_size(view.data(), view.size());
  };
  EXPECT_FALSE(size_for(0));
  EXPECT_FALSE(size_for(19));
  EXPECT_FALSE(size_for(22));  // a header without its tail
  EXPECT_EQ(size_for(23), 23u);
  EXPECT_EQ(size_for(64), 64u);  // exactly the view
  EXPECT_FALSE(size_for(65));
  EXPECT_FALSE(size_for(0xFFFFFFFFu));
  EXPECT_FALSE(medium_message_size(view.data(), 3));
  EXPECT_FALSE(medium_message_size(nullptr, 64));
  EXPECT_FALSE(decode_medium_message(view.data(), 40));  // size field says 64
}

TEST(RouteEnvelope, LayoutCountsTheTail) {
  const uint8_t pdu[7] = {9, 8, 7, 6, 5, 4, 3};
  const auto bytes = encode_route_envelope(kHostEndpointId, kClientEndpointId, pdu, sizeof pdu);
  ASSERT_EQ(bytes.size(), 7u + 43u);
  EXPECT_EQ(load_le32(bytes.data()), 50u);
  EXPECT_EQ(Guid::load(bytes.data() + 4), kHostEndpointId);
  EXPECT_EQ(Guid::load(bytes.data() + 20), kClientEndpointId);
  EXPECT_EQ(load_le32(bytes.data() + 36), 7u);
  EXPECT_EQ(0, memcmp(bytes.data() + 40, pdu, sizeof pdu));

  const auto decoded = decode_route_envelope(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->destination, kHostEndpointId);
  EXPECT_EQ(decoded->source, kClientEndpointId);
  EXPECT_EQ(decoded->pdu_size, 7u);
  EXPECT_EQ(decoded->pdu, bytes.data() + 40);

  // A PDU of m bytes takes m + 66 bytes of the mapping.
  const auto message = encode_medium_message(kOther, bytes.data(), bytes.size());
  EXPECT_EQ(message.size(), sizeof pdu + 66);
}

TEST(RouteEnvelope, MalformedLengthsAreRejected) {
  const uint8_t pdu[4] = {};
  const auto good = encode_route_envelope(Guid{}, kOther, pdu, sizeof pdu);
  auto with = [&](size_t offset, uint32_t value) {
    auto bytes = good;
    store_le32(bytes.data() + offset, value);
    return decode_route_envelope(bytes.data(), bytes.size()).has_value();
  };
  EXPECT_TRUE(with(36, 4));
  EXPECT_FALSE(with(36, 5));            // PDU longer than the envelope
  EXPECT_FALSE(with(36, 0xFFFFFFFFu));  // must not wrap
  EXPECT_FALSE(with(36, 0xFFFFFFD5u));  // wraps to 0 when 43 is added in 32 bits
  EXPECT_FALSE(with(0, 46));            // size field disagrees with the PDU length
  EXPECT_FALSE(with(0, 48));            // size field beyond the bytes received
  EXPECT_FALSE(decode_route_envelope(good.data(), 39));
  EXPECT_FALSE(decode_route_envelope(good.data(), good.size() - 1));
  EXPECT_FALSE(decode_route_envelope(nullptr, 0));
}

TEST(RouteEnvelope, DeliversOnlyToItsAddresseeAndNeverToItsSender) {
  Route_Envelope e;
  e.source = kClientEndpointId;
  e.destination = kHostEndpointId;
  EXPECT_TRUE(e.is_for(kHostEndpointId));
  EXPECT_FALSE(e.is_for(kOther));
  e.destination = Guid{};
  EXPECT_TRUE(e.is_for(kOther));
  EXPECT_FALSE(e.is_for(kClientEndpointId));  // from itself, even when sent to anyone
}

}  // namespace
}  // namespace Core_IPC
