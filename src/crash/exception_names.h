// The crash log's words for an exception code.
#pragma once

#include <cstdint>

namespace Crash_Capture {

// "an Access Violation" and so on; "an Unknown exception type" for a code
// not in the table.
const wchar_t* describe_exception(uint32_t code);

}  // namespace Crash_Capture
