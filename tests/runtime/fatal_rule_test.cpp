// A broken internal rule ends the process abnormally, never silently.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "support/child_process.h"
#include "system/file_helper.h"

namespace {

DWORD run(const std::wstring& arguments) {
  Test_Support::Child_Process child(L"fatal_rule_program.exe", arguments);
  EXPECT_TRUE(child.running() || child.wait(0));
  const auto code = child.wait(30000);
  EXPECT_TRUE(code) << "the program did not end";
  return code.value_or(0);
}

TEST(FatalRule, ATimerSetFromAForeignThreadEndsTheProcess) {
  EXPECT_NE(run(L"foreign-timer"), 0u);
}

TEST(FatalRule, AnArmedTimerWithoutCallbackLeavesItsNameAndEndsTheProcess) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  const std::wstring file = std::wstring(dir) + L"fatal_rule_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  EXPECT_NE(run(L"empty-callback \"" + file + L"\""), 0u);
  std::string text;
  EXPECT_TRUE(Core_Common::read_whole_file(file, text));
  ::DeleteFileW(file.c_str());
  EXPECT_EQ(text, "empty timer func:tick_name");
}

TEST(FatalRule, APageRequestAboveOneGibibyteEndsTheProcess) {
  EXPECT_NE(run(L"huge-page-request"), 0u);
}

}  // namespace
