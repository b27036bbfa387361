#include <gtest/gtest.h>

#include "reporter/unsent_report_rules.h"

namespace Faultpost {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

TEST(UnsentReportRulesTest, EntryNamesSortByAgeAndNothingElseIsAnEntry) {
  const std::string older = unsent_entry_name(2026, 12, 9, 23, 59, 58, 7);
  const std::string newer = unsent_entry_name(2026, 12, 10, 0, 0, 1, 3);
  EXPECT_EQ(older, "20261209-235958-0007");
  EXPECT_LT(older, newer);
  EXPECT_TRUE(is_unsent_entry_name(older));
  for (const char* other : {"20261209-235958-0007.part", "dropped.txt", "2026120-235958-00070", "",
                            "20261209_235958-0007", "2026120a-235958-0007"}) {
    EXPECT_FALSE(is_unsent_entry_name(other)) << other;
  }
}

TEST(UnsentReportRulesTest, TheOldestGoFirstToStayWithinBothBounds) {
  std::vector<Unsent_Entry> ten;
  for (unsigned i = 0; i < 10; ++i) ten.push_back({unsent_entry_name(2026, 1, 1, 0, 0, i, 0), kMiB});
  // Listed in any order: the oldest names go.
  std::swap(ten[0], ten[9]);
  Unsent_Admission admitted = admit_unsent(ten, kMiB);
  EXPECT_TRUE(admitted.keep_incoming);
  EXPECT_EQ(admitted.drop, std::vector<std::string>{unsent_entry_name(2026, 1, 1, 0, 0, 0, 0)});

  // Bytes: 3 x 20 MiB kept, 15 MiB more drops the two oldest.
  const std::vector<Unsent_Entry> big = {{"20260101-000000-0001", 20 * kMiB},
                                         {"20260101-000000-0002", 20 * kMiB},
                                         {"20260101-000000-0003", 5 * kMiB}};
  admitted = admit_unsent(big, 15 * kMiB);
  EXPECT_TRUE(admitted.keep_incoming);
  EXPECT_EQ(admitted.drop, (std::vector<std::string>{"20260101-000000-0001"}));
  EXPECT_TRUE(admit_unsent(big, 5 * kMiB).drop.empty());

  // One report beyond the bytes alone is not kept, and drops nothing.
  admitted = admit_unsent(big, kMaxUnsentBytes + 1);
  EXPECT_FALSE(admitted.keep_incoming);
  EXPECT_TRUE(admitted.drop.empty());
}

TEST(UnsentReportRulesTest, FieldsReadBackAsWrittenAndAnythingElseIsRefused) {
  const Unsent_Fields fields{"dr20100201plugin_Drovan.exe", "0123456789abcdef0123456789abcdef"};
  const auto back = parse_unsent_fields(format_unsent_fields(fields));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->app_version, fields.app_version);
  EXPECT_EQ(back->install_id, fields.install_id);
  EXPECT_TRUE(parse_unsent_fields("app=x\ninstall_id=\n"));

  EXPECT_FALSE(parse_unsent_fields("install_id=0123456789abcdef0123456789abcdef\n"));  // no app
  EXPECT_FALSE(parse_unsent_fields("app=\n"));
  EXPECT_FALSE(parse_unsent_fields("app=x\ninstall_id=short\n"));
  EXPECT_FALSE(parse_unsent_fields("app=x\ry\n"));                  // a control character
  EXPECT_FALSE(parse_unsent_fields("app=" + std::string(300, 'a')));  // longer than a path
  EXPECT_FALSE(parse_unsent_fields("app=x\n" + std::string(2000, '#')));
}

}  // namespace
}  // namespace Faultpost
