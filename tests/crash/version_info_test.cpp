#include "crash/version_info.h"

#include <gtest/gtest.h>

#include "crash/system_info.h"
#include "support/child_process.h"

namespace Core_Crash {
namespace {

std::wstring beside(const wchar_t* name) { return Test_Support::program_dir() + name; }

TEST(VersionInfo, ReadsTheFixedPartAndTheSixStrings) {
  version_info info;
  ASSERT_TRUE(read_version_info(beside(L"version_full.dll"), info));
  EXPECT_EQ(info.file_version, (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(info.product_version, (std::array<uint16_t, 4>{5, 6, 7, 8}));
  EXPECT_EQ(info.file_flags, 2u);
  EXPECT_EQ(info.file_type, static_cast<uint32_t>(VFT_DLL));
  EXPECT_EQ(info.company_name, L"Drovan Test Works");
  EXPECT_EQ(info.product_name, L"Version Probe");
  EXPECT_EQ(info.file_description, L"A DLL that only carries a version");
  EXPECT_EQ(info.legal_copyright, L"(c) nobody");
  EXPECT_EQ(info.product_version_text, L"5.6.7.8");
  EXPECT_EQ(file_version_text(info), L"1.2.3.4");

  std::wstring text = L"stale";
  EXPECT_FALSE(query_version_string(info, L"NoSuchValue", text));
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(make_version_info(beside(L"version_full.dll")));
}

TEST(VersionInfo, AFileWithoutAResourceFails) {
  version_info info;
  EXPECT_FALSE(read_version_info(beside(L"version_none.dll"), info));
  EXPECT_TRUE(file_version_text(info).empty());
  EXPECT_EQ(info.file_version, (std::array<uint16_t, 4>{}));
  EXPECT_FALSE(make_version_info(beside(L"no_such_file.dll")));
}

TEST(VersionInfo, ATranslationWithoutItsStringTableGivesEmptyStrings) {
  version_info info;
  ASSERT_TRUE(read_version_info(beside(L"version_mismatch.dll"), info));
  EXPECT_EQ(info.file_version, (std::array<uint16_t, 4>{9, 8, 7, 6}));
  EXPECT_TRUE(info.file_version_text.empty());
  EXPECT_TRUE(info.company_name.empty());
}

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
}  // namespace Core_Crash
