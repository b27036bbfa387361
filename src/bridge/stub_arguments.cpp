#include "bridge/stub_arguments.h"

namespace Core_Drovan {

namespace {

// The first `width` bytes as a little-endian number, if there are so many.
bool load_le(const Core_IPC::Argument& argument, size_t width, uint64_t& value) {
  if (argument.size() < width) return false;
  value = 0;
  for (size_t i = width; i-- > 0;) value = (value << 8) | argument[i];
  return true;
}

}  // namespace

int32_t argument_i32(const Core_IPC::Argument& argument, int32_t fallback) {
  uint64_t value = 0;
  return load_le(argument, 4, value) ? static_cast<int32_t>(static_cast<uint32_t>(value)) : fallback;
}

uint16_t argument_u16(const Core_IPC::Argument& argument) {
  uint64_t value = 0;
  return load_le(argument, 2, value) ? static_cast<uint16_t>(value) : 0;
}

uint64_t argument_u64(const Core_IPC::Argument& argument) {
  uint64_t value = 0;
  return load_le(argument, 8, value) ? value : 0;
}

uint8_t argument_byte(const Core_IPC::Argument& argument) { return argument.empty() ? 0 : argument[0]; }

std::string argument_string(const Core_IPC::Argument& argument) {
  return std::string(argument.begin(), argument.end());
}

std::u16string argument_wide(const Core_IPC::Argument& argument) {
  std::u16string text(argument.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(argument[2 * i] | (argument[2 * i + 1] << 8));
  }
  return text;
}

}  // namespace Core_Drovan
