// The transport between two real processes: this test is one endpoint, the
// transport_peer program the other. Raw messages are written into the
// mapping by hand where a test needs a message the sender would never make.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/byte_order.h"
#include "ipc/channel_identity.h"
#include "ipc/channel_names.h"
#include "ipc/guid_win32.h"
#include "ipc/transport_detector.h"
#include "support/child_process.h"
#include "support/pdu_inbox.h"
#include "support/raw_channel.h"

namespace Core_IPC {
namespace {

using Test_Support::receipt_for;

std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    self_ = create_guid();
    peer_id_ = create_guid();
    set_own_endpoint_id(self_);
    detector_ = std::make_unique<Transport_Detector>(&inbox_);
    ASSERT_TRUE(detector_->valid());
    ASSERT_TRUE(detector_->start());

    const std::string id = format_guid(peer_id_);
    peer_ = std::make_unique<Test_Support::Child_Process>(
        L"transport_peer.exe", std::wstring(id.begin(), id.end()) + L" 60000");
    ASSERT_TRUE(peer_->running());
    ASSERT_TRUE(Test_Support::wait_for_endpoint(peer_id_));
  }

  void TearDown() override {
    if (peer_ && peer_->running()) {
      send_text("quit", peer_id_);
      EXPECT_EQ(peer_->wait(5000), 0u);
    }
  }

  bool send_text(const std::string& text, const Guid& to) {
    return detector_->send(reinterpret_cast<const uint8_t*>(text.data()), text.size(), to, 5000);
  }

  bool inject(const std::vector<uint8_t>& message) {
    return Test_Support::inject_message(message, peer_id_);
  }

  static std::vector<uint8_t> raw_message(const Guid& id, const Guid& destination,
                                          const Guid& source, const std::string& pdu) {
    return Test_Support::raw_message(id, destination, source, bytes_of(pdu));
  }

  void expect_receipt_of(const std::vector<uint8_t>& pdu) {
    const auto reply = inbox_.wait_next(5000);
    ASSERT_TRUE(reply) << "no receipt from the peer";
    EXPECT_EQ(reply->text(), receipt_for(pdu.data(), pdu.size()));
    EXPECT_EQ(reply->source, peer_id_);
  }

  // Nothing was delivered to the peer: the next receipt is for a fresh ping.
  void expect_nothing_delivered() {
    EXPECT_FALSE(inbox_.wait_next(300));
    ASSERT_TRUE(send_text("ping", peer_id_));
    expect_receipt_of(bytes_of("ping"));
  }

  Guid self_;
  Guid peer_id_;
  Test_Support::Pdu_Inbox inbox_;
  std::unique_ptr<Transport_Detector> detector_;
  std::unique_ptr<Test_Support::Child_Process> peer_;
};

TEST_F(TransportTest, MessageCrossesAndIsAcknowledged) {
  ASSERT_TRUE(send_text("hello, peer", peer_id_));
  expect_receipt_of(bytes_of("hello, peer"));

  const std::string binary("\0\x01\xff\0tail", 8);
  ASSERT_TRUE(send_text(binary, peer_id_));
  expect_receipt_of(bytes_of(binary));
}

TEST_F(TransportTest, APeerGoneFailsTheSendAndOneRestartedUnderItsIdReceives) {
  ASSERT_TRUE(send_text("before", peer_id_));
  expect_receipt_of(bytes_of("before"));
  ASSERT_TRUE(send_text("quit", peer_id_));
  ASSERT_EQ(peer_->wait(5000), 0u);

  // Nobody acknowledges, whatever the sender kept of the peer.
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(send_text("nobody", peer_id_));
  EXPECT_GE(::GetTickCount() - start, 900u);

  const std::string id = format_guid(peer_id_);
  peer_ = std::make_unique<Test_Support::Child_Process>(L"transport_peer.exe",
                                                        std::wstring(id.begin(), id.end()) + L" 60000");
  ASSERT_TRUE(peer_->running());
  ASSERT_TRUE(Test_Support::wait_for_endpoint(peer_id_));
  ASSERT_TRUE(send_text("after", peer_id_));
  expect_receipt_of(bytes_of("after"));
}

TEST_F(TransportTest, SecondNotifyForTheSameMessageIsNeitherDeliveredNorAcknowledged) {
  const auto message = raw_message(create_guid(), peer_id_, self_, "once");
  ASSERT_TRUE(inject(message));
  expect_receipt_of(bytes_of("once"));

  EXPECT_FALSE(inject(message));
  expect_nothing_delivered();
}

TEST_F(TransportTest, EnvelopeForAnotherEndpointIsAcknowledgedButNotDelivered) {
  EXPECT_TRUE(inject(raw_message(create_guid(), create_guid(), self_, "not yours")));
  expect_nothing_delivered();

  // The null destination means anyone.
  EXPECT_TRUE(inject(raw_message(create_guid(), Guid{}, self_, "anyone")));
  expect_receipt_of(bytes_of("anyone"));
}

TEST_F(TransportTest, EnvelopeFromTheReceiversOwnIdIsNeverDelivered) {
  EXPECT_TRUE(inject(raw_message(create_guid(), peer_id_, peer_id_, "echo")));
  expect_nothing_delivered();
}

TEST_F(TransportTest, RefusedPduIsNeitherAcknowledgedNorDelivered) {
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(send_text("refuse me", peer_id_));
  EXPECT_GE(::GetTickCount() - start, 900u);
  expect_nothing_delivered();
}

TEST_F(TransportTest, SendToAnEndpointWithoutNotifyEventFailsAfterAboutASecond) {
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(send_text("nobody", create_guid()));
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 900u);
  EXPECT_LT(elapsed, 3000u);
}

TEST_F(TransportTest, LargestBodyCrossesAndOneByteMoreIsRefused) {
  // A PDU of m bytes takes m + 66 bytes; the message must stay below the
  // mapping's size.
  const size_t largest_pdu = kMappingSize - 67;
  std::vector<uint8_t> pdu(largest_pdu + 1);
  for (size_t i = 0; i < pdu.size(); ++i) pdu[i] = static_cast<uint8_t>(i * 7 + (i >> 13));

  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(detector_->send(pdu.data(), pdu.size(), peer_id_, 5000));
  EXPECT_LT(::GetTickCount() - start, 500u);  // refused before any wait

  pdu.pop_back();
  ASSERT_TRUE(detector_->send(pdu.data(), pdu.size(), peer_id_, 5000));
  expect_receipt_of(pdu);
}

TEST_F(TransportTest, MalformedMessagesAreDroppedWithoutAcknowledgement) {
  auto with_size = [&](uint32_t size) {
    auto message = raw_message(create_guid(), peer_id_, self_, "bad size");
    Core_Common::store_le32(message.data(), size);
    return message;
  };
  EXPECT_FALSE(inject(with_size(0xFFFFFFFFu)));
  EXPECT_FALSE(inject(with_size(kMappingSize + 1)));
  EXPECT_FALSE(inject(with_size(5)));

  auto bad_envelope = raw_message(create_guid(), peer_id_, self_, "bad envelope");
  Core_Common::store_le32(bad_envelope.data() + 20 + 36, 0xFFFFFFF0u);
  EXPECT_FALSE(inject(bad_envelope));

  expect_nothing_delivered();
}

}  // namespace
}  // namespace Core_IPC

namespace Core_IPC {
namespace {

// Any local process may create the channel's objects first. A section
// smaller than the channel's must make the channel refuse to run, not let
// a size field up to the channel's size reach past the view.
TEST(HostileChannel, ASmallerSectionCreatedFirstMakesTheChannelInvalid) {
  Test_Support::Child_Process hostile(L"hostile_mapping.exe", L"4096 20000");
  ASSERT_TRUE(hostile.running());
  bool exists = false;
  for (int i = 0; i < 100 && !exists; ++i) {
    Core_Common::Unique_Handle section(::OpenFileMappingW(FILE_MAP_READ, FALSE, kMappingName));
    exists = static_cast<bool>(section);
    if (!exists) ::Sleep(50);
  }
  ASSERT_TRUE(exists);

  set_own_endpoint_id(create_guid());
  Test_Support::Pdu_Inbox inbox;
  Transport_Detector detector(&inbox);
  EXPECT_FALSE(detector.valid());
  EXPECT_FALSE(detector.start());
  const std::vector<uint8_t> pdu(100, 0x5A);
  EXPECT_FALSE(detector.send(pdu.data(), pdu.size(), create_guid(), 1000));
}

}  // namespace
}  // namespace Core_IPC
