#include "host/preferences_file.h"

#include <gtest/gtest.h>

namespace Plugin_Host {
namespace {

TEST(PreferencesFileTest, ANewFileHoldsTheSectionAndTheLanguageWithoutAFinalLineEnd) {
  EXPECT_EQ(new_preferences("2052"), "[Drovan]\r\nLanguage=2052");
}

TEST(PreferencesFileTest, OnlyTheThreeInstallerLanguagesAreAccepted) {
  EXPECT_TRUE(is_accepted_language(L"2052"));
  EXPECT_TRUE(is_accepted_language(L"1028"));
  EXPECT_TRUE(is_accepted_language(L"1033"));
  EXPECT_FALSE(is_accepted_language(L"1031"));
  EXPECT_FALSE(is_accepted_language(L"2052 "));
  EXPECT_FALSE(is_accepted_language(L""));
}

TEST(PreferencesFileTest, RewriteDropsBlankLinesTrimsAndReplacesEveryLanguageLine) {
  EXPECT_EQ(rewrite_language("[Drovan]\r\n\r\n  Language=1033\r\nPort=1\r\n\r\n", "2052"),
            "[Drovan]\r\nLanguage=2052\r\nPort=1");
  // Every section's line, and lone "\n" or "\r" ends.
  EXPECT_EQ(rewrite_language("[A]\nLanguage=1\r[B]\n\tLanguage=x \n", "1028"),
            "[A]\r\nLanguage=1028\r\n[B]\r\nLanguage=1028");
  // No line is added where there was none.
  EXPECT_EQ(rewrite_language("\r\n[Drovan]\r\nPort=1\r\n", "2052"), "[Drovan]\r\nPort=1");
  // A line that is only blanks trims to an empty line between two others.
  EXPECT_EQ(rewrite_language("a\r\n  \r\nb", "2052"), "a\r\n\r\nb");
  // Only the first nine characters decide.
  EXPECT_EQ(rewrite_language("language=1\r\nLanguage", "2052"), "language=1\r\nLanguage");
  EXPECT_EQ(rewrite_language("", "2052"), "");
}

}  // namespace
}  // namespace Plugin_Host
