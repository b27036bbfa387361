#include "argument_spec.h"

#include <charconv>
#include <sstream>

namespace Client_Sim {

namespace {

template <typename T>
std::optional<T> number(const std::string& text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Core_IPC::Argument little_endian(uint64_t value, size_t width) {
  Core_IPC::Argument bytes(width);
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

// UTF-8 to UTF-16LE bytes; the script's texts are valid UTF-8.
Core_IPC::Argument utf16le(const std::string& text) {
  Core_IPC::Argument out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  };
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < text.size(); ++k) c = c << 6 | (text[i + k] & 0x3F);
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

}  // namespace

std::optional<Core_IPC::Argument> parse_argument(const std::string& spec) {
  if (spec == "empty") return Core_IPC::Argument();
  const size_t colon = spec.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::string kind = spec.substr(0, colon);
  const std::string value = spec.substr(colon + 1);
  if (kind == "str") return Core_IPC::Argument(value.begin(), value.end());
  if (kind == "wstr") return utf16le(value);
  if (kind == "hex") {
    if (value.size() % 2 != 0) return std::nullopt;
    Core_IPC::Argument bytes;
    for (size_t i = 0; i < value.size(); i += 2) {
      unsigned v = 0;
      const auto [end, error] = std::from_chars(value.data() + i, value.data() + i + 2, v, 16);
      if (error != std::errc() || end != value.data() + i + 2) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
  }
  if (kind == "i32") {
    if (auto v = number<int32_t>(value)) return little_endian(static_cast<uint32_t>(*v), 4);
  } else if (kind == "u32") {
    if (auto v = number<uint32_t>(value)) return little_endian(*v, 4);
  } else if (kind == "u16") {
    if (auto v = number<uint16_t>(value)) return little_endian(*v, 2);
  } else if (kind == "u64") {
    if (auto v = number<uint64_t>(value)) return little_endian(*v, 8);
  } else if (kind == "byte") {
    if (auto v = number<uint8_t>(value)) return little_endian(*v, 1);
  }
  return std::nullopt;
}

std::string hex_text(const Core_IPC::Argument& argument) {
  if (argument.empty()) return "-";
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : argument) {
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 15]);
  }
  return text;
}

std::vector<std::string> split_words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace Client_Sim
