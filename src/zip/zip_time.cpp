#include "zip/zip_time.h"

namespace Zip {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSeconds1601To1970 = 11644473600;

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(int64_t z, int& year, unsigned& month, unsigned& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (month <= 2));
}

}  // namespace

uint32_t dos_date_time(uint64_t file_time) {
  const int64_t seconds = static_cast<int64_t>(file_time / kTicksPerSecond) - kSeconds1601To1970;
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t second_of_day = seconds - days * 86400;
  int year;
  unsigned month, day;
  civil_from_days(days, year, month, day);
  unsigned hour = static_cast<unsigned>(second_of_day / 3600);
  unsigned minute = static_cast<unsigned>(second_of_day / 60 % 60);
  unsigned second = static_cast<unsigned>(second_of_day % 60);
  if (year < 1980) {
    year = 1980, month = 1, day = 1, hour = minute = second = 0;
  } else if (year > 2107) {
    year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
  }
  const uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
  const uint32_t time = hour << 11 | minute << 5 | second / 2;
  return date << 16 | time;
}

uint32_t unix_seconds(uint64_t file_time) {
  const int64_t seconds = static_cast<int64_t>(file_time / kTicksPerSecond) - kSeconds1601To1970;
  if (seconds < 0) return 0;
  if (seconds > 0x7FFFFFFF) return 0x7FFFFFFF;
  return static_cast<uint32_t>(seconds);
}

}  // namespace Zip
