// The link another program hands the host in WM_COPYDATA: any bytes with
// any claimed length. Reading stays within the bytes, and a strict UTF-8
// decode is exact: encoding its result again gives back the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/copied_link.h"

namespace {

std::string encode_utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly `size` bytes on the heap, so a read past them is caught.
  std::vector<uint8_t> copy(data, data + size);
  const std::u16string text = Plugin_Host::read_copied_text(copy.data(), copy.size());
  if (text.size() > size / 2) std::abort();
  Plugin_Host::repair_copied_link(text);

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (const auto decoded = Plugin_Host::decode_utf8_strictly(bytes)) {
    if (encode_utf8(*decoded) != bytes) std::abort();
  }
  return 0;
}
