#include "system/dos_time_text.h"

#include <cstdio>

namespace Core_Common {

std::string format_dos_date_time(uint16_t date, uint16_t time) {
  char text[48];
  std::snprintf(text, sizeof text, "%d/%d/%d %02d:%02d:%02d", (date >> 5) & 15, date & 31,
                (date >> 9) + 1980, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

}  // namespace Core_Common
