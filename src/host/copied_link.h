// The link another start of the host hands over in WM_COPYDATA. Its sender
// is any program on the desktop, so the text is read within the bytes the
// message says it carries, never past them, terminator or not.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Plugin_Host {

// The UTF-16 units of `data` up to the first zero unit, at most
// bytes / 2 of them (an odd last byte is not read).
std::u16string read_copied_text(const void* data, size_t bytes);

// Strict UTF-8: nothing for overlong forms, surrogates, values past
// U+10FFFF, stray or missing continuation bytes.
std::optional<std::u16string> decode_utf8_strictly(std::string_view bytes);

// A text whose every unit is below U+0100 is taken as bytes and decoded as
// UTF-8 (a link that was UTF-8 widened byte by byte). Any other text, and
// one that is not valid UTF-8 (Latin-1 "café", say), is kept as it was given.
std::u16string repair_copied_link(const std::u16string& text);

}  // namespace Plugin_Host
