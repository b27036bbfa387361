#include "runtime/clock.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace Core_Common {
namespace {

TEST(Clock, TimestampArithmetic) {
  timestamp_auto start;
  timestamp_auto later = start;
  EXPECT_EQ(later.add_seconds(3), 3000);
  later.add_milliseconds(250);
  EXPECT_EQ(start.milliseconds_until(later), 3250);
  EXPECT_EQ(start.seconds_until(later), 3);
  EXPECT_EQ(later.seconds_until(start), -3);
  ::Sleep(100);  // the tick count moves in coarse steps under Wine
  EXPECT_GE(start.elapsed_milliseconds(), 50);
  EXPECT_LE(start.elapsed_milliseconds(), 2000);
  EXPECT_GE(now_ms(), start.value());
}

}  // namespace
}  // namespace Core_Common
