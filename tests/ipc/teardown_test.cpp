// Shutting the channel down while calls are in flight: teardown ends in
// bounded time whatever a stub does, and nothing touches what is gone.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "ipc/channel_identity.h"
#include "ipc/guid_win32.h"
#include "ipc/pdu.h"
#include "ipc/procedure_calls.h"
#include "support/allocation_failure.h"
#include "support/raw_channel.h"
#include "system/unique_handle.h"

namespace Core_IPC {
namespace {

constexpr uint32_t kInterface = 4711;

// Every call enters, tells the test, then holds its worker for `hold_ms`
// (INFINITE: for ever) and answers. Method 1 keeps its reply address
// instead, for the test to answer with later.
class Holding_Stub final : public Local_Procedure_Stub {
 public:
  explicit Holding_Stub(DWORD hold_ms) : hold_ms_(hold_ms) {}
  bool dispatch(uint32_t method_id, const Argument_List&, std::unique_ptr<Respond_Data> respond) override {
    if (method_id == 1) {
      kept_ = std::move(respond);
      ::SetEvent(entered_.get());
      return true;
    }
    ++entered_count_;
    ::SetEvent(entered_.get());
    ::Sleep(hold_ms_);
    answered_ = Core_IPC::respond(method_id, std::move(respond), kStatusSuccess) ? 1 : 0;
    return true;
  }
  // Waits until `count` calls are in.
  bool wait_entered(int count = 1) {
    for (int i = 0; i < 100; ++i) {
      if (::WaitForSingleObject(entered_.get(), 50) == WAIT_OBJECT_0 && entered_count_ + (kept_ ? 1 : 0) >= count) {
        return true;
      }
    }
    return false;
  }
  int answered() const { return answered_; }
  std::unique_ptr<Respond_Data> kept() { return std::move(kept_); }

 private:
  DWORD hold_ms_;
  Core_Common::Unique_Handle entered_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  std::atomic<int> entered_count_{0};
  std::atomic<int> answered_{-1};
  std::unique_ptr<Respond_Data> kept_;
};

// A request from an endpoint that does not exist, written into the mapping
// by hand, so this process has no call of its own in flight.
void deliver_request(const Guid& self, uint32_t method_id = 0) {
  const auto record = build_call_record(method_id, kInterface, 0, {});
  const auto pdu = encode_pdu(create_guid(), PDU::kRequest, record.data(), record.size());
  ASSERT_TRUE(Test_Support::inject_message(Test_Support::raw_message(create_guid(), self, create_guid(), pdu),
                                           self));
}

// Milliseconds shut_down took; ends the process when it hangs.
DWORD timed_shut_down() {
  Core_Common::Unique_Handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const DWORD start = ::GetTickCount();
  std::thread closer([&] {
    IPC_Service_Point::shut_down();
    ::SetEvent(done.get());
  });
  if (::WaitForSingleObject(done.get(), 20000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "shut_down still running after 20 s";
    std::fflush(stdout);
    ::ExitProcess(1);
  }
  closer.join();
  return ::GetTickCount() - start;
}

TEST(Teardown, StubsBlockedForEverStillLetTeardownEndWithinOneBound) {
  const Guid self = create_guid();
  set_own_endpoint_id(self);
  ASSERT_TRUE(service_point().valid());
  Holding_Stub stub(INFINITE);
  register_stub(&stub, kInterface);
  // Every one of the three workers is held.
  for (int i = 0; i < 3; ++i) deliver_request(self);
  ASSERT_TRUE(stub.wait_entered(3));

  const DWORD took = timed_shut_down();
  EXPECT_GE(took, 4500u);  // the workers had their 5000 ms, together
  EXPECT_LT(took, 8000u);
  EXPECT_EQ(IPC_Service_Point::existing(), nullptr);
}

TEST(Teardown, AnAnswerDuringShutDownIsSentAndOneAfterItFails) {
  const Guid self = create_guid();
  set_own_endpoint_id(self);
  ASSERT_TRUE(service_point().valid());
  Holding_Stub stub(1000);
  register_stub(&stub, kInterface);
  deliver_request(self, 1);
  deliver_request(self, 0);
  ASSERT_TRUE(stub.wait_entered(2));

  EXPECT_LT(timed_shut_down(), 4500u);  // the worker ended by itself
  EXPECT_EQ(stub.answered(), 1);
  // The kept reply address outlived its channel: no new channel for it.
  EXPECT_FALSE(respond(1, stub.kept(), kStatusSuccess));
  EXPECT_EQ(IPC_Service_Point::existing(), nullptr);
}

TEST(Teardown, ARequestWhoseCopyFailsLeavesNoPendingEntryBehind) {
  set_own_endpoint_id(create_guid());
  ASSERT_TRUE(service_point().valid());
  const std::string text(2 << 20, 'x');
  const Argument_List arguments{argument_text(text.data(), text.size())};
  const size_t record_size = build_call_record(0, kInterface, 0, arguments).size();

  // The record and its PDU are made; the envelope around the PDU is not.
  Test_Support::fail_allocations_from(record_size + 40);
  uint32_t status = 0;
  bool sent = true;
  EXPECT_NO_THROW(sent = service_point().invokor().call(0, arguments, create_guid(), kInterface,
                                                        status, 1000));
  Test_Support::fail_allocations_from(0);
  EXPECT_FALSE(sent);
  EXPECT_EQ(service_point().invokor().pending_count(), 0u);
  IPC_Service_Point::shut_down();
}

}  // namespace
}  // namespace Core_IPC
