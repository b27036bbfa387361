// Remote procedure calls between this test process and the rpc_peer
// program, each with its own endpoint id.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "ipc/channel_identity.h"
#include "ipc/guid_win32.h"
#include "ipc/pdu.h"
#include "ipc/procedure_calls.h"
#include "rpc_test_interface.h"
#include "support/child_process.h"
#include "support/raw_channel.h"

namespace Core_IPC {
namespace {

using namespace Rpc_Test;

Argument text(const std::string& s) { return argument_text(s.data(), s.size()); }

// The test's own interface: keeps reports, doubles arguments.
class Test_Stub final : public Local_Procedure_Stub {
 public:
  bool dispatch(uint32_t method_id, const Argument_List& args,
                std::unique_ptr<Respond_Data> respond) override {
    if (method_id == kDouble) {
      Argument_List doubled;
      for (const Argument& a : args) {
        doubled.push_back(a);
        doubled.push_back(a);
      }
      return respond_with_arguments(method_id, std::move(respond), kStatusSuccess, doubled);
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      reports_.push_back(args);
    }
    arrived_.notify_all();
    return Core_IPC::respond(method_id, std::move(respond), kStatusSuccess);
  }

  std::optional<Argument_List> wait_report(unsigned timeout_ms) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [this] { return !reports_.empty(); })) {
      return std::nullopt;
    }
    return reports_.front();
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Argument_List> reports_;
};

class RpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    self_ = create_guid();
    peer_id_ = create_guid();
    set_own_endpoint_id(self_);
    ASSERT_TRUE(service_point().valid());
    register_stub(&stub_, kTestInterface);

    const std::string peer = format_guid(peer_id_);
    const std::string self = format_guid(self_);
    peer_ = std::make_unique<Test_Support::Child_Process>(
        L"rpc_peer.exe", std::wstring(peer.begin(), peer.end()) + L" " +
                             std::wstring(self.begin(), self.end()) + L" 90000");
    ASSERT_TRUE(peer_->running());
    ASSERT_TRUE(Test_Support::wait_for_endpoint(peer_id_));
    address_ = {kPeerInterface, peer_id_};
  }

  void TearDown() override {
    if (peer_ && peer_->running()) {
      uint32_t status = 0;
      call(address_, status, kQuit, {});
      EXPECT_EQ(peer_->wait(10000), 0u);
    }
    IPC_Service_Point::shut_down();
  }

  Guid self_;
  Guid peer_id_;
  Service_Address address_;
  Test_Stub stub_;
  std::unique_ptr<Test_Support::Child_Process> peer_;
};

TEST_F(RpcTest, CallWithResultReturnsTheServedResults) {
  const Argument_List args = {argument_u32(7), argument_u64(1ull << 40), text("magnet:?xt"), {}};
  uint32_t status = 0;
  Argument_List results;
  ASSERT_TRUE(call_with_result(address_, status, kEcho, args, results));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(results, args);

  // A plain call is true once the reply came.
  EXPECT_TRUE(call(address_, status, kEcho, args));
  EXPECT_EQ(service_point().invokor().last_timeout(), 5000u);
}

TEST_F(RpcTest, ReplyStatusIsHandedBackAndNonZeroFails) {
  uint32_t status = 0;
  Argument_List results;
  EXPECT_FALSE(call_with_result(address_, status, kStatus, {argument_u32(3)}, results));
  EXPECT_EQ(status, 3u);
  EXPECT_TRUE(results.empty());

  // A reply with an empty result list succeeds.
  status = 9;
  EXPECT_TRUE(call_with_result(address_, status, kStatus, {argument_u32(0)}, results));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(results.empty());
}

TEST_F(RpcTest, ReplyWithoutResultFailsACallWithResultButCompletesACall) {
  uint32_t status = 0;
  Argument_List results;
  EXPECT_FALSE(call_with_result(address_, status, kNoResult, {}, results));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(call(address_, status, kNoResult, {}));
}

TEST_F(RpcTest, TwoCallsInFlightGetTheirOwnReplies) {
  Argument_List slow_results;
  Argument_List fast_results;
  std::atomic<bool> slow_done{false};
  bool fast_finished_first = false;
  std::thread slow([&] {
    uint32_t status = 0;
    EXPECT_TRUE(call_with_result(address_, status, kSleepThenEcho, {argument_u32(1500), text("slow")},
                                 slow_results));
    slow_done = true;
  });
  ::Sleep(200);
  uint32_t status = 0;
  EXPECT_TRUE(call_with_result(address_, status, kSleepThenEcho, {argument_u32(0), text("fast")},
                               fast_results));
  fast_finished_first = !slow_done;
  slow.join();
  EXPECT_EQ(slow_results, Argument_List{text("slow")});
  EXPECT_EQ(fast_results, Argument_List{text("fast")});
  EXPECT_TRUE(fast_finished_first);
}

TEST_F(RpcTest, AFourthConcurrentCallStartsAFourthWorker) {
  const DWORD start = ::GetTickCount();
  std::vector<std::thread> callers;
  std::atomic<int> succeeded{0};
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([&, i] {
      uint32_t status = 0;
      Argument_List results;
      if (call_with_result(address_, status, kSleepThenEcho, {argument_u32(2000), argument_u32(i)},
                           results) &&
          results == Argument_List{argument_u32(i)}) {
        ++succeeded;
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(succeeded, 4);
  // Served one after another, the fourth would end after four seconds.
  EXPECT_LT(::GetTickCount() - start, 3500u);

  uint32_t status = 0;
  Argument_List count;
  ASSERT_TRUE(call_with_result(address_, status, kWorkerCount, {}, count));
  ASSERT_EQ(count.size(), 1u);
  EXPECT_GE(argument_as_u32(count[0]).value_or(0), 4u);
}

TEST_F(RpcTest, RequestWithNullDialogueIdIsServedAndNotAnswered) {
  const auto record = build_call_record(kReport, kPeerInterface, 0, {});
  const auto pdu = encode_pdu(Guid{}, PDU::kRequest, record.data(), record.size());
  ASSERT_TRUE(Test_Support::inject_message(Test_Support::raw_message(create_guid(), peer_id_, self_, pdu),
                                           peer_id_));
  const auto report = stub_.wait_report(5000);
  ASSERT_TRUE(report);
  EXPECT_EQ(*report, (Argument_List{text("null"), text("0")}));
}

TEST_F(RpcTest, MalformedRecordIsNotAcknowledged) {
  auto record = build_call_record(kEcho, kPeerInterface, 0, {text("x")});
  record[0] = static_cast<uint8_t>(record.size() + 1);  // claims more than it has
  const auto pdu = encode_pdu(create_guid(), PDU::kRequest, record.data(), record.size());
  EXPECT_FALSE(Test_Support::inject_message(
      Test_Support::raw_message(create_guid(), peer_id_, self_, pdu), peer_id_));

  uint32_t status = 0;
  Argument_List results;
  EXPECT_TRUE(call_with_result(address_, status, kEcho, {text("still serving")}, results));
}

TEST_F(RpcTest, CallToAnUnservedInterfaceFailsAfterAboutASecondWithStatusUnchanged) {
  uint32_t status = 77;
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(call({111, peer_id_}, status, kEcho, {}));
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 900u);
  EXPECT_LT(elapsed, 3500u);
  EXPECT_EQ(status, 77u);
}

TEST_F(RpcTest, AServedCallMayCallBackWhileItRuns) {
  uint32_t status = 0;
  Argument_List results;
  ASSERT_TRUE(call_with_result(address_, status, kCallBack, {text("a"), text("b")}, results));
  EXPECT_EQ(results, (Argument_List{text("a"), text("a"), text("b"), text("b")}));
}

TEST_F(RpcTest, StressEveryCallEndsWithinItsTimeOut) {
  // Callers on several threads while the peer answers at once, late,
  // or never. Each call must end, true or false, within its bounds.
  constexpr DWORD kRunMs = 8000;
  constexpr DWORD kCallBoundMs = 5000 + 1000 + 2000 + 1500;  // reply + ack + mutex + slack
  std::atomic<int> calls{0};
  std::atomic<int> late{0};
  std::atomic<int> wrong{0};
  const DWORD start = ::GetTickCount();
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      std::mt19937 rng(t + 1);
      while (::GetTickCount() - start < kRunMs) {
        const uint32_t kind = rng() % 4;
        const uint32_t tag = rng();
        uint32_t status = 0;
        Argument_List results;
        const DWORD begin = ::GetTickCount();
        bool ok = false;
        if (kind == 0) {
          ok = call_with_result(address_, status, kEcho, {argument_u32(tag)}, results);
        } else if (kind == 1) {
          ok = call_with_result(address_, status, kSleepThenEcho,
                                {argument_u32(rng() % 6500), argument_u32(tag)}, results);
        } else if (kind == 2) {
          ok = call(address_, status, kNeverReply, {});
          if (ok) ++wrong;  // no reply can have come
        } else {
          ok = call_with_result(address_, status, kStatus, {argument_u32(2)}, results);
          if (ok || status != 2) ++wrong;
        }
        if (ok && kind <= 1 && results != Argument_List{argument_u32(tag)}) ++wrong;
        if (::GetTickCount() - begin > kCallBoundMs) ++late;
        ++calls;
      }
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_GT(calls, 8);
  EXPECT_EQ(late, 0);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace Core_IPC
