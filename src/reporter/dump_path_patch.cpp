#include "reporter/dump_path_patch.h"

namespace Faultpost {

namespace {

constexpr size_t kExecutableWindow = 256;
constexpr size_t kLibraryWindow = 4096;

std::string bytes_of(const std::u16string& text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

char lower(char byte) { return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte; }

// Byte-wise search with ASCII letters folded, within [begin, end).
size_t find_folded(const std::string& haystack, size_t begin, size_t end, const std::string& needle) {
  if (needle.empty() || end - begin < needle.size()) return std::string::npos;
  for (size_t at = begin; at + needle.size() <= end; ++at) {
    size_t i = 0;
    while (i < needle.size() && lower(haystack[at + i]) == lower(needle[i])) ++i;
    if (i == needle.size()) return at;
  }
  return std::string::npos;
}

std::u16string replace_all(std::u16string text, const std::u16string& from, const std::u16string& to) {
  for (size_t at = text.find(from); at != std::u16string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

std::u16string dump_replacement_tag(const std::u16string& app_argument) {
  if (app_argument.size() <= 12) return app_argument;
  return app_argument.substr(0, 10) + u".exe";
}

bool replace_path_in_window(std::string& dump, size_t window_begin, size_t window_bytes,
                            const std::u16string& search, const std::u16string& replacement) {
  if (window_begin > dump.size()) return false;
  const size_t window_end = window_begin + std::min(window_bytes, dump.size() - window_begin);
  const size_t match = find_folded(dump, window_begin, window_end, bytes_of(search));
  if (match == std::string::npos) return false;
  // The old path ends at the first pair of zero bytes.
  size_t end = match;
  while (end + 2 <= window_end && !(dump[end] == '\0' && dump[end + 1] == '\0')) ++end;
  if (end + 2 > window_end) return false;
  const std::string with_nul = bytes_of(replacement) + std::string(2, '\0');
  if (end - match < with_nul.size() - 2) return false;
  dump.replace(match, with_nul.size(), with_nul);
  return true;
}

bool patch_dump_paths(std::string& dump, const std::u16string& reporter_dir,
                      const std::u16string& app_argument) {
  const std::u16string executable = u"d:\\qa\\" + dump_replacement_tag(app_argument);
  const std::u16string library = replace_all(executable, u".exe", u".dll");
  const size_t ntdll = dump.find(bytes_of(u"ntdll.dll"));
  if (ntdll == std::string::npos) return false;
  bool changed = false;
  if (ntdll >= kExecutableWindow) {
    changed |= replace_path_in_window(dump, ntdll - kExecutableWindow, kExecutableWindow, reporter_dir, executable);
  }
  changed |= replace_path_in_window(dump, ntdll, kLibraryWindow, reporter_dir + u"\\plugin_Drovan.dll", library);
  return changed;
}

}  // namespace Faultpost
