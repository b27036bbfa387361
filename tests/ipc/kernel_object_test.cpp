#include <gtest/gtest.h>

#include "ipc/event_operations.h"
#include "ipc/guid.h"
#include "ipc/guid_win32.h"
#include "ipc/win32_kernel_object.h"

namespace Core_Common {
namespace {

std::wstring unique_name(const wchar_t* prefix) {
  return prefix + Core_IPC::endpoint_event_name(Core_IPC::create_guid());
}

bool is_signalled(HANDLE h) { return ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

TEST(KernelObject, SecurityAttributesAreFixedAndNotInherited) {
  Adapt_Win32_Event event;
  EXPECT_EQ(event.security_attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(event.security_attributes()->bInheritHandle);
  // Either the low-integrity descriptor was built, or default security.
  SECURITY_ATTRIBUTES* effective = event.effective_security_attributes();
  if (effective != nullptr) EXPECT_NE(effective->lpSecurityDescriptor, nullptr);
  EXPECT_EQ(event.open_function(), &::OpenEventW);
  EXPECT_EQ(Adapt_Win32_MappingFile().open_function(), &::OpenFileMappingW);
  EXPECT_EQ(Win32_Kernel_Object().open_function(), nullptr);
}

TEST(KernelObject, CreatingAnExistingEventOpensItAndItsResetModeWins) {
  const std::wstring name = unique_name(L"kot_");
  Adapt_Win32_Event first;
  Adapt_Win32_Event second;
  ASSERT_TRUE(first.create_event(name, true));
  ASSERT_TRUE(second.create_event(name, false));
  EXPECT_EQ(second.name(), name);
  EXPECT_FALSE(second.opened());

  ::SetEvent(first.handle());
  EXPECT_TRUE(is_signalled(second.handle()));
  EXPECT_TRUE(is_signalled(second.handle()));  // manual reset: still set
}

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
  signal_named_event(unique_name(L"absent_"), missing);
  EXPECT_FALSE(missing.opened);
  EXPECT_FALSE(missing.event);

  const std::wstring name = unique_name(L"present_");
  Adapt_Win32_Event target;
  ASSERT_TRUE(target.create_event(name, false));
  {
    Event_Guard guard;
    signal_named_event(name, guard);
    EXPECT_TRUE(guard.opened);
    EXPECT_EQ(guard.timeout_ms, 1000u);
  }
  // Leaving the guard's scope must not take the signal back.
  EXPECT_TRUE(is_signalled(target.handle()));
}

}  // namespace
}  // namespace Core_Common
