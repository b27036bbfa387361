// Conversions of Windows file times for the ZIP headers.
#pragma once

#include <cstdint>

namespace Zip {

// MS-DOS date (high 16 bits) and time (low 16 bits) of the UTC calendar
// fields of a file time, seconds rounded down to even. Times before 1980
// give 1 January 1980, after 2107 the last day of 2107.
uint32_t dos_date_time(uint64_t file_time);

// Seconds since 1970 (UTC) of a file time, held within 0 .. 2^31 - 1 as the
// extended timestamp field stores them.
uint32_t unix_seconds(uint64_t file_time);

}  // namespace Zip
