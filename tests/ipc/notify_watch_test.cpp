#include <gtest/gtest.h>

#include <atomic>

#include "ipc/data_notify_watch.h"
#include "ipc/guid_win32.h"
#include "ipc/transport_interfaces.h"

namespace Core_IPC {
namespace {

// A medium whose notification blocks until released, standing for a
// receive thread stuck in the layer above.
class Stuck_Medium : public Transport_Medium_Int {
 public:
  Stuck_Medium()
      : entered_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        release_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool valid() const override { return true; }
  void on_notify() override {
    ::SetEvent(entered_.get());
    ::WaitForSingleObject(release_.get(), 10000);
    returned_ = true;
  }
  bool send(const uint8_t*, size_t, const Guid&, uint32_t) override { return false; }
  bool start() override { return true; }
  bool accept(const Medium_Message&) override { return true; }

  Core_Common::Unique_Handle entered_;
  Core_Common::Unique_Handle release_;
  std::atomic<bool> returned_{false};
};

TEST(NotifyWatch, StopTerminatesAThreadThatDoesNotEndInTime) {
  Stuck_Medium medium;
  Core_Common::Unique_Handle wake_all(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const std::wstring name = L"watch_" + endpoint_event_name(create_guid());
  Data_Notify_Watch watch(&medium, wake_all.get(), name);
  ASSERT_FALSE(watch.failed());
  ASSERT_TRUE(watch.start());
  EXPECT_FALSE(watch.start());  // already running

  Core_Common::Unique_Handle notify(::OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str()));
  ASSERT_TRUE(notify);
  ::SetEvent(notify.get());
  ASSERT_EQ(::WaitForSingleObject(medium.entered_.get(), 5000), WAIT_OBJECT_0);

  const DWORD start = ::GetTickCount();
  watch.stop(200);
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 190u);
  EXPECT_LT(elapsed, 2000u);

  // The terminated thread never comes back from its callback.
  ::SetEvent(medium.release_.get());
  ::Sleep(200);
  EXPECT_FALSE(medium.returned_);
}

TEST(NotifyWatch, WithoutTheWakeAllEventItFailsAndWillNotStart) {
  Stuck_Medium medium;
  Data_Notify_Watch watch(&medium, nullptr, L"watch_" + endpoint_event_name(create_guid()));
  EXPECT_TRUE(watch.failed());
  EXPECT_FALSE(watch.start());
}

}  // namespace
}  // namespace Core_IPC
