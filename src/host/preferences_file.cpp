#include "host/preferences_file.h"

#include <vector>

namespace Plugin_Host {

namespace {

constexpr std::string_view kLanguageKey = "Language=";
constexpr std::string_view kTrimmed = " \r\n\t";
constexpr std::string_view kBreaks = "\r\n";

std::string_view trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(kTrimmed);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kTrimmed) - begin + 1);
}

// Pieces between runs of break characters; a leading and a trailing piece
// stay even when empty.
std::vector<std::string_view> split_lines(std::string_view content) {
  std::vector<std::string_view> lines;
  size_t begin = 0;
  for (;;) {
    const size_t end = content.find_first_of(kBreaks, begin);
    lines.push_back(content.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) return lines;
    begin = content.find_first_not_of(kBreaks, end);
    if (begin == std::string_view::npos) begin = content.size();
  }
}

}  // namespace

bool is_accepted_language(std::wstring_view id) {
  return id == L"2052" || id == L"1028" || id == L"1033";
}

std::string new_preferences(const std::string& language) {
  return "[Drovan]\r\n" + std::string(kLanguageKey) + language;
}

std::string rewrite_language(std::string_view content, const std::string& language) {
  std::string joined;
  bool first = true;
  for (const std::string_view piece : split_lines(content)) {
    const std::string_view line = trim(piece);
    if (!first) joined += "\r\n";
    first = false;
    if (line.substr(0, kLanguageKey.size()) == kLanguageKey) {
      joined.append(kLanguageKey).append(language);
    } else {
      joined.append(line);
    }
  }
  return std::string(trim(joined));
}

}  // namespace Plugin_Host
