// The language line of the plug-in's settings file, "config/preferences.ini"
// beside the host: 8-bit text with "\r\n" line ends, section "[Drovan]",
// key "Language".
#pragma once

#include <string>
#include <string_view>

namespace Plugin_Host {

// The installer's language ids the plug-in knows: "2052", "1028", "1033".
bool is_accepted_language(std::wstring_view id);

// A new file: the section and the language line, without a final line end.
std::string new_preferences(const std::string& language);

// An existing file: lines split at every run of "\r" and "\n", each trimmed
// of blanks, tabs and line ends, every "Language=" line (in any section)
// set to `language`, joined with "\r\n" and trimmed again. A file without
// such a line gets none.
std::string rewrite_language(std::string_view content, const std::string& language);

}  // namespace Plugin_Host
