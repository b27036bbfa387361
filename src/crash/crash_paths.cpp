#include "crash/crash_paths.h"

namespace Crash_Capture {

namespace {

size_t length(const wchar_t* text) {
  size_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

}  // namespace

const wchar_t* base_name(const wchar_t* path) {
  const wchar_t* base = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\') base = p + 1;
  }
  return base;
}

bool replace_base_name(const wchar_t* path, const wchar_t* name, wchar_t* out, size_t out_units) {
  if (out_units == 0) return false;
  out[0] = L'\0';
  const size_t directory = static_cast<size_t>(base_name(path) - path);
  const size_t name_length = length(name);
  if (directory + name_length + 1 > out_units) return false;
  for (size_t i = 0; i < directory; ++i) out[i] = path[i];
  for (size_t i = 0; i <= name_length; ++i) out[directory + i] = name[i];
  return true;
}

bool name_without_extension(const wchar_t* base, wchar_t* out, size_t out_units) {
  if (out_units == 0) return false;
  out[0] = L'\0';
  size_t end = length(base);
  for (size_t i = end; i-- > 0;) {
    if (base[i] == L'.') {
      end = i;
      break;
    }
  }
  if (end + 1 > out_units) return false;
  for (size_t i = 0; i < end; ++i) out[i] = base[i];
  out[end] = L'\0';
  return true;
}

uint64_t mebibytes_rounded_up(uint64_t bytes) {
  return (bytes >> 20) + ((bytes & 0xFFFFF) != 0 ? 1 : 0);
}

}  // namespace Crash_Capture
