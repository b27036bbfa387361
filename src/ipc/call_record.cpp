#include "ipc/call_record.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace Core_IPC {

using Core_Common::load_le32;
using Core_Common::store_le32;

namespace {

uint64_t header_size_for(uint64_t count) {
  return std::max<uint64_t>(Call_Record::kMinHeaderSize, Call_Record::kTableOffset + 8 * count);
}

}  // namespace

std::vector<uint8_t> build_call_record(uint32_t method_id, uint32_t interface_id, uint32_t status,
                                       const Argument_List& arguments) {
  const size_t header = static_cast<size_t>(header_size_for(arguments.size()));
  size_t total = header;
  for (const Argument& a : arguments) total += a.size();

  std::vector<uint8_t> record(total, 0);
  uint8_t* p = record.data();
  store_le32(p, static_cast<uint32_t>(total));
  store_le32(p + 4, method_id);
  store_le32(p + 8, interface_id);
  store_le32(p + 12, status);
  store_le32(p + 16, static_cast<uint32_t>(arguments.size()));
  size_t next = header;
  for (size_t i = 0; i < arguments.size(); ++i) {
    store_le32(p + Call_Record::kTableOffset + 8 * i, static_cast<uint32_t>(next));
    store_le32(p + Call_Record::kTableOffset + 8 * i + 4, static_cast<uint32_t>(arguments[i].size()));
    if (!arguments[i].empty()) std::memcpy(p + next, arguments[i].data(), arguments[i].size());
    next += arguments[i].size();
  }
  return record;
}

namespace {

// Checks the size field, the count and every table entry against the
// record; returns the record's declared size when all lie inside it.
std::optional<uint64_t> validated_size(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < Call_Record::kMinHeaderSize) return std::nullopt;
  const uint64_t declared = load_le32(bytes);
  const uint64_t count = load_le32(bytes + 16);
  if (declared > size || header_size_for(count) > declared) return std::nullopt;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* entry = bytes + Call_Record::kTableOffset + 8 * i;
    if (uint64_t{load_le32(entry)} + load_le32(entry + 4) > declared) return std::nullopt;
  }
  return declared;
}

}  // namespace

std::optional<Call_Record> read_call_record(const uint8_t* bytes, size_t size) {
  if (!validated_size(bytes, size)) return std::nullopt;
  Call_Record record;
  record.method_id = load_le32(bytes + 4);
  record.interface_id = load_le32(bytes + 8);
  record.status = load_le32(bytes + 12);
  const uint32_t count = load_le32(bytes + 16);
  record.arguments.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = bytes + Call_Record::kTableOffset + 8 * i;
    const uint8_t* start = bytes + load_le32(entry);
    record.arguments.emplace_back(start, start + load_le32(entry + 4));
  }
  return record;
}

std::optional<uint32_t> call_record_interface(const uint8_t* bytes, size_t size) {
  if (!validated_size(bytes, size)) return std::nullopt;
  return load_le32(bytes + 8);
}

Argument argument_u32(uint32_t value) {
  Argument a(4);
  store_le32(a.data(), value);
  return a;
}

Argument argument_u64(uint64_t value) {
  Argument a(8);
  store_le32(a.data(), static_cast<uint32_t>(value));
  store_le32(a.data() + 4, static_cast<uint32_t>(value >> 32));
  return a;
}

Argument argument_text(const char* text, size_t size) { return Argument(text, text + size); }

std::optional<uint32_t> argument_as_u32(const Argument& argument) {
  if (argument.size() != 4) return std::nullopt;
  return load_le32(argument.data());
}

}  // namespace Core_IPC
