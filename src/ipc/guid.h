// A GUID as the channel carries it: Data1, Data2, Data3 little-endian,
// then the eight Data4 bytes. Endpoint ids, message ids and dialogue ids
// are all of this type; the null GUID as a destination means any endpoint.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Core_IPC {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  static constexpr size_t kWireSize = 16;

  bool is_null() const { return *this == Guid{}; }

  // Wire form, which is also the in-memory layout of a Win32 GUID on x86.
  void store(uint8_t* out) const;
  static Guid load(const uint8_t* in);

  friend bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && a.data4 == b.data4;
  }
  friend bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
};

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, either case).
std::optional<Guid> parse_guid(std::string_view text);

// The braced, upper-case registry form.
std::string format_guid(const Guid& guid);

// Name of an endpoint's notify event: the decimal renderings of Data1,
// Data2, Data3 and each Data4 byte, concatenated without separators.
std::wstring endpoint_event_name(const Guid& endpoint);

}  // namespace Core_IPC
