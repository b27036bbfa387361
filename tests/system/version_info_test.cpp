#include "system/version_info.h"

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "system/system_info.h"

namespace Core_Common {
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

}  // namespace
}  // namespace Core_Common
