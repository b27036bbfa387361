#include "system/os_version_table.h"

#include <gtest/gtest.h>

namespace Core_Common {
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

}  // namespace
}  // namespace Core_Common
