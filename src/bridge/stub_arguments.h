// How the served interface reads its arguments. Each reader takes what it
// needs from the front of an argument and falls back to a default when the
// argument is too short; none reads past its end.
#pragma once

#include <cstdint>
#include <string>

#include "ipc/call_record.h"

namespace Core_Drovan {

// The first 4 bytes, little-endian; `fallback` when shorter.
int32_t argument_i32(const Core_IPC::Argument& argument, int32_t fallback);
// The first 2 (8) bytes; 0 when shorter.
uint16_t argument_u16(const Core_IPC::Argument& argument);
uint64_t argument_u64(const Core_IPC::Argument& argument);
// The first byte; 0 when empty.
uint8_t argument_byte(const Core_IPC::Argument& argument);
// Every byte, as 8-bit text.
std::string argument_string(const Core_IPC::Argument& argument);
// UTF-16LE units, byte count / 2 of them; no terminator is looked for.
std::u16string argument_wide(const Core_IPC::Argument& argument);

}  // namespace Core_Drovan
