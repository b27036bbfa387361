// UTF-8 and the system's UTF-16, both ways. Paths travel through portable
// code as UTF-8, which every folder name has; the system code page has no
// form for many of them (a Chinese folder on an English Windows).
#pragma once

#include <string>

namespace Core_Common {

// Empty for empty input; bytes that are not UTF-8 become U+FFFD.
std::wstring widen_utf8(const std::string& utf8);
std::string narrow_utf8(const std::wstring& wide);

}  // namespace Core_Common
