// Arguments written as text, for the client simulator's scripts and answer
// tables: "i32:-1", "u32:7", "u16:6881", "u64:5", "byte:1", "str:text"
// (its bytes), "wstr:text" (UTF-8 in the script, UTF-16LE on the wire),
// "hex:00ff", "empty".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ipc/call_record.h"

namespace Client_Sim {

std::optional<Core_IPC::Argument> parse_argument(const std::string& spec);

// Lowercase hex, "-" for an empty argument.
std::string hex_text(const Core_IPC::Argument& argument);

// A line split at blanks.
std::vector<std::string> split_words(const std::string& line);

}  // namespace Client_Sim
