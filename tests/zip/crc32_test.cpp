#include "zip/crc32.h"

#include <gtest/gtest.h>

namespace Zip {
namespace {

TEST(Crc32, MatchesTheCheckValueAndContinues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc32_update(0, digits, 9), 0xCBF43926u);
  EXPECT_EQ(crc32_update(crc32_update(0, digits, 4), digits + 4, 5), 0xCBF43926u);
  EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);
}

}  // namespace
}  // namespace Zip
