#include <gtest/gtest.h>

#include <string>

#include "common/tick_clock.h"
#include "crash/crash_context.h"
#include "crash/dos_time_text.h"
#include "crash/os_version_table.h"

namespace Core_Crash {
namespace {

TEST(OsVersionTable, EveryRowAndTheUnknownCases) {
  struct Row {
    uint32_t platform, major, minor, build;
    const char* name;
    int code;
  };
  const Row rows[] = {
      {1, 4, 0, 950, "Windows 95", 1},         {1, 4, 0, 951, "Windows 95 SP1", 2},
      {1, 4, 3, 1080, "Windows 95 SP1", 2},    {1, 4, 0, 1081, "Windows 95 OSR2", 3},
      {1, 4, 0, 949, kUnknownWindows, 0},      {1, 4, 10, 1998, "Windows 98", 4},
      {1, 4, 10, 1999, "Windows 98 SP1", 5},   {1, 4, 10, 2182, "Windows 98 SP1", 5},
      {1, 4, 10, 2183, "Windows 98 SE", 6},    {1, 4, 10, 1997, kUnknownWindows, 0},
      {1, 4, 90, 3000, "Windows ME", 7},       {1, 5, 0, 950, kUnknownWindows, 0},
      {2, 3, 51, 1057, "Windows NT 3.51", 101}, {2, 4, 0, 1381, "Windows NT 4", 102},
      {2, 5, 0, 2195, "Windows 2000", 103},    {2, 5, 1, 2600, "Windows XP", 104},
      {2, 5, 2, 3790, "Windows 2003 Server", 105}, {2, 6, 0, 6002, "Windows Vista", 106},
      {2, 6, 1, 7601, "Windows 7", 106},       {2, 6, 2, 9200, kUnknownWindows, 0},
      {2, 10, 0, 19045, kUnknownWindows, 0},   {3, 7, 0, 1, "Windows CE", 201},
      {0, 4, 0, 950, kUnknownWindows, 0},
      // Only the low 16 bits of the build count.
      {1, 4, 0, 0x040003B6, "Windows 95", 1},
  };
  for (const Row& r : rows) {
    const Os_Name os = classify_os_version(r.platform, r.major, r.minor, r.build);
    EXPECT_STREQ(os.name, r.name) << r.platform << " " << r.major << "." << r.minor << "." << r.build;
    EXPECT_EQ(os.code, r.code) << r.name;
  }
}

TEST(DosTimeText, SecondsHaveTwoSecondResolution) {
  const uint16_t date = static_cast<uint16_t>((46 << 9) | (12 << 5) | 8);  // 2026-12-08
  const uint16_t time = static_cast<uint16_t>((13 << 11) | (45 << 5) | (59 / 2));
  EXPECT_EQ(format_dos_date_time(date, time), "12/8/2026 13:45:58");
  EXPECT_EQ(format_dos_date_time((0 << 9) | (1 << 5) | 1, 0), "1/1/1980 00:00:00");
}

TEST(TickClock, CountsWrapArounds) {
  Core_Common::Tick_Clock clock;
  EXPECT_EQ(clock.extend(0xFFFFFF00u), 0xFFFFFF00ull);
  EXPECT_EQ(clock.extend(0xFFFFFFFFu), 0xFFFFFFFFull);
  EXPECT_EQ(clock.extend(5), 0x100000005ull);
  EXPECT_EQ(clock.extend(5), 0x100000005ull);
  EXPECT_EQ(clock.extend(1), 0x200000001ull);
}

TEST(CrashContext, KeepsAtMost1024Characters) {
  set_crash_context_text(std::wstring(1500, L'x'));
  EXPECT_EQ(crash_context_text().size(), 1024u);
  set_crash_context_text(L"empty timer func:tick");
  EXPECT_EQ(crash_context_text(), L"empty timer func:tick");
}

}  // namespace
}  // namespace Core_Crash
