#include "crash/crash_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "crash/exception_names.h"

namespace Crash_Capture {
namespace {

TEST(CrashPathsTest, NamesBesideTheProgramComeFromItsPath) {
  const wchar_t path[] = L"C:\\dir with blank\\plugin_Drovan.exe";
  EXPECT_EQ(std::wstring(base_name(path)), L"plugin_Drovan.exe");
  EXPECT_EQ(std::wstring(base_name(L"Unknown")), L"Unknown");

  wchar_t out[kPathUnits];
  ASSERT_TRUE(replace_base_name(path, L"CRASH.DMP", out, kPathUnits));
  EXPECT_EQ(std::wstring(out), L"C:\\dir with blank\\CRASH.DMP");
  ASSERT_TRUE(replace_base_name(L"Unknown", L"CRASHLOG.TXT", out, kPathUnits));
  EXPECT_EQ(std::wstring(out), L"CRASHLOG.TXT");  // the current directory
  // Exactly the room needed, and one unit less.
  EXPECT_TRUE(replace_base_name(L"C:\\a.exe", L"b", out, 5));
  EXPECT_FALSE(replace_base_name(L"C:\\a.exe", L"bb", out, 5));
  EXPECT_EQ(out[0], L'\0');

  ASSERT_TRUE(name_without_extension(L"plugin_Drovan.exe", out, kPathUnits));
  EXPECT_EQ(std::wstring(out), L"plugin_Drovan");
  ASSERT_TRUE(name_without_extension(L"a.b.c", out, kPathUnits));
  EXPECT_EQ(std::wstring(out), L"a.b");
  ASSERT_TRUE(name_without_extension(L"Unknown", out, kPathUnits));
  EXPECT_EQ(std::wstring(out), L"Unknown");
}

TEST(CrashPathsTest, MebibytesRoundUpWithoutWrapping) {
  EXPECT_EQ(mebibytes_rounded_up(0), 0u);
  EXPECT_EQ(mebibytes_rounded_up(1), 1u);
  EXPECT_EQ(mebibytes_rounded_up(1048576), 1u);
  EXPECT_EQ(mebibytes_rounded_up(1048577), 2u);
  // 4,095 MiB and beyond still count, and the largest count does not wrap.
  EXPECT_EQ(mebibytes_rounded_up(4095ull << 20), 4095u);
  EXPECT_EQ(mebibytes_rounded_up(UINT64_MAX), 1ull << 44);
}

TEST(ExceptionNamesTest, KnownCodesHaveTheirTextsAndOthersAreUnknown) {
  EXPECT_EQ(std::wstring(describe_exception(0xC0000005)), L"an Access Violation");
  EXPECT_EQ(std::wstring(describe_exception(0xC00000FD)), L"a Stack Overflow");
  EXPECT_EQ(std::wstring(describe_exception(0xE06D7363)), L"a Microsoft C++ Exception");
  EXPECT_EQ(std::wstring(describe_exception(0x40010005)), L"a Control-C");
  EXPECT_EQ(std::wstring(describe_exception(0)), L"an Unknown exception type");
}

}  // namespace
}  // namespace Crash_Capture
