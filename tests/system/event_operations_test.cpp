#include "system/event_operations.h"

#include <gtest/gtest.h>

#include "system/kernel_object_test_support.h"
#include "system/win32_kernel_object.h"

namespace Core_Common {
namespace {

TEST(EventOperations, DrainReturnsAtOnceOrConsumesThePendingSignal) {
  Unique_Handle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  // The tick count moves in 16 ms steps under Wine; a sleep of 10 ms would
  // still show on the performance counter.
  LARGE_INTEGER frequency, before, after;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&before);
  drain_event(event.get(), 1000);
  ::QueryPerformanceCounter(&after);
  EXPECT_LT((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart, 8);

  ::SetEvent(event.get());
  drain_event(event.get(), 1000);
  EXPECT_FALSE(is_signalled(event.get()));

  // A manual-reset event never drains; the limit ends the polling.
  Unique_Handle manual(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  const DWORD start = ::GetTickCount();
  drain_event(manual.get(), 100);
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 100u);
  EXPECT_LT(elapsed, 600u);
}

TEST(EventOperations, SignalNamedEventSetsAnExistingEventOnly) {
  Event_Guard missing;
  signal_named_event(unique_object_name(L"absent_"), missing);
  EXPECT_FALSE(missing.event);

  const std::wstring name = unique_object_name(L"present_");
  Adapt_Win32_Event target;
  ASSERT_TRUE(target.create_event(name, false));
  {
    Event_Guard guard;
    signal_named_event(name, guard);
    EXPECT_TRUE(guard.event);
    EXPECT_EQ(guard.timeout_ms, 1000u);
  }
  // Leaving the guard's scope must not take the signal back.
  EXPECT_TRUE(is_signalled(target.handle()));
}

}  // namespace
}  // namespace Core_Common
