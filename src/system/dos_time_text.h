// "%d/%d/%d %02d:%02d:%02d" (month/day/year hour:minute:second) of an
// MS-DOS date and time; seconds have two-second resolution.
#pragma once

#include <cstdint>
#include <string>

namespace Core_Common {

std::string format_dos_date_time(uint16_t date, uint16_t time);

}  // namespace Core_Common
