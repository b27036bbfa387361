#include "runtime/tick_clock.h"

#include <gtest/gtest.h>

namespace Core_Common {
namespace {

TEST(TickClock, CountsWrapArounds) {
  Core_Common::Tick_Clock clock;
  EXPECT_EQ(clock.extend(0xFFFFFF00u), 0xFFFFFF00ull);
  EXPECT_EQ(clock.extend(0xFFFFFFFFu), 0xFFFFFFFFull);
  EXPECT_EQ(clock.extend(5), 0x100000005ull);
  EXPECT_EQ(clock.extend(5), 0x100000005ull);
  EXPECT_EQ(clock.extend(1), 0x200000001ull);
}

}  // namespace
}  // namespace Core_Common
