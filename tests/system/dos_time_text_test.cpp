#include "system/dos_time_text.h"

#include <gtest/gtest.h>

namespace Core_Common {
namespace {

TEST(DosTimeText, SecondsHaveTwoSecondResolution) {
  const uint16_t date = static_cast<uint16_t>((46 << 9) | (12 << 5) | 8);  // 2026-12-08
  const uint16_t time = static_cast<uint16_t>((13 << 11) | (45 << 5) | (59 / 2));
  EXPECT_EQ(format_dos_date_time(date, time), "12/8/2026 13:45:58");
  EXPECT_EQ(format_dos_date_time((0 << 9) | (1 << 5) | 1, 0), "1/1/1980 00:00:00");
}

}  // namespace
}  // namespace Core_Common
