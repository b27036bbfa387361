#include "base/crash_context.h"

#include <gtest/gtest.h>

#include <string>

namespace Core_Common {
namespace {

TEST(CrashContext, KeepsAtMost1024Characters) {
  set_crash_context_text(std::wstring(1500, L'x'));
  EXPECT_EQ(crash_context_text().size(), 1024u);
  set_crash_context_text(L"empty timer func:tick");
  EXPECT_EQ(crash_context_text(), L"empty timer func:tick");
}

}  // namespace
}  // namespace Core_Common
