#include "system/win32_kernel_object.h"

#include <gtest/gtest.h>

#include "system/kernel_object_test_support.h"

namespace Core_Common {
namespace {

TEST(KernelObject, SecurityAttributesAreFixedAndNotInherited) {
  Adapt_Win32_Event event;
  EXPECT_EQ(event.security_attributes()->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_FALSE(event.security_attributes()->bInheritHandle);
  // Either the low-integrity descriptor was built, or default security.
  SECURITY_ATTRIBUTES* effective = event.effective_security_attributes();
  if (effective != nullptr) {
    EXPECT_NE(effective->lpSecurityDescriptor, nullptr);
  }
}

TEST(KernelObject, CreatingAnExistingEventOpensItAndItsResetModeWins) {
  const std::wstring name = unique_object_name(L"kot_");
  Adapt_Win32_Event first;
  Adapt_Win32_Event second;
  ASSERT_TRUE(first.create_event(name, true));
  ASSERT_TRUE(second.create_event(name, false));
  EXPECT_EQ(second.name(), name);

  ::SetEvent(first.handle());
  EXPECT_TRUE(is_signalled(second.handle()));
  EXPECT_TRUE(is_signalled(second.handle()));  // manual reset: still set
}

}  // namespace
}  // namespace Core_Common
