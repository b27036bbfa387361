// Names the crash capture derives from the host's path, in fixed buffers:
// nothing here allocates, since it runs after a fault.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Crash_Capture {

// Paths and names of the capture, in UTF-16 units with the terminator.
inline constexpr size_t kPathUnits = 520;

// The text after the last backslash, or the whole path.
const wchar_t* base_name(const wchar_t* path);

// `path` with its base name replaced by `name`, into `out`; false (and an
// empty `out`) when it does not fit.
bool replace_base_name(const wchar_t* path, const wchar_t* name, wchar_t* out, size_t out_units);

// The base name cut at its last "."; whole when it has none. False when
// it does not fit.
bool name_without_extension(const wchar_t* base, wchar_t* out, size_t out_units);

// Whole mebibytes, rounded up, of a byte count; never wraps.
uint64_t mebibytes_rounded_up(uint64_t bytes);

}  // namespace Crash_Capture
