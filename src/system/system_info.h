// Small queries about the machine and the running program, for the crash
// log and start-up. Each degrades to an empty or "Unknown" result.
#pragma once

#include <windows.h>

#include <string>

namespace Core_Common {

// False without writing when an output is missing; false with the unknown
// name and code 0 when the system refuses the query; else true with the
// "major.minor.build" text, the name and the code.
bool get_os_version(std::string* version_text, int* os_code, std::string* name);

// The file time as local "month/day/year hh:mm:ss"; empty when either
// conversion fails.
void format_local_time(const FILETIME& time, std::string& text);

uint16_t get_ui_language();

// The running program's directory, long form where it can be had.
std::wstring get_program_dir();
// The running program's file, long form where it can be had; empty when
// its path does not fit MAX_PATH.
std::wstring get_program_path();

}  // namespace Core_Common
