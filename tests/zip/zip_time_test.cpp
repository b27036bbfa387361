#include "zip/zip_time.h"

#include <gtest/gtest.h>

namespace Zip {
namespace {

TEST(ZipTime, DosTimeRoundsSecondsDownAndClampsTheYears) {
  // 2026-12-08 13:45:59 UTC as a file time.
  const uint64_t unix_time = 1796737559;
  const uint64_t file_time = (unix_time + 11644473600ull) * 10000000ull;
  const uint32_t dos = dos_date_time(file_time);
  EXPECT_EQ(dos >> 16, (46u << 9) | (12u << 5) | 8u);
  EXPECT_EQ(dos & 0xffff, (13u << 11) | (45u << 5) | 29u);  // 58 seconds
  EXPECT_EQ(unix_seconds(file_time), unix_time);

  EXPECT_EQ(dos_date_time(0), (0u << 9 | 1u << 5 | 1u) << 16);  // 1601 -> 1980-01-01
  EXPECT_EQ(unix_seconds(0), 0u);
  EXPECT_EQ(unix_seconds(~0ull), 0x7FFFFFFFu);
}

}  // namespace
}  // namespace Zip
