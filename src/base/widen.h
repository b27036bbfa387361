// Byte text widened character by character: each byte becomes the UTF-16
// unit of the same value (Latin-1), the way the crash log's texts are made.
#pragma once

#include <string>

namespace Core_Common {

inline std::wstring widen(const char* text) {
  std::wstring wide;
  for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
    wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  }
  return wide;
}

}  // namespace Core_Common
