#include "system/system_info.h"

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace Core_Common {
namespace {

TEST(SystemInfo, LiveQueriesGiveUsableAnswers) {
  std::string version, name;
  int code = -1;
  EXPECT_FALSE(get_os_version(nullptr, &code, &name));
  ASSERT_TRUE(get_os_version(&version, &code, &name));
  EXPECT_FALSE(version.empty());
  EXPECT_FALSE(name.empty());

  EXPECT_NE(get_ui_language(), 0);

  const std::wstring dir = get_program_dir();
  EXPECT_EQ(dir + L"\\", Test_Support::program_dir());

  // 2026-12-08 13:45:59 UTC; the zone of the machine moves the hour only.
  const uint64_t ticks = (1796737559ull + 11644473600ull) * 10000000ull;
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  std::string text;
  format_local_time(ft, text);
  ASSERT_GE(text.size(), 8u);
  EXPECT_EQ(text.substr(text.size() - 5), "45:58");
}

}  // namespace
}  // namespace Core_Common
