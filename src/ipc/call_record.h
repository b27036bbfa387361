// Call_Record: the payload of a request or reply PDU. Integers are
// little-endian, unsigned 32-bit.
//
//   0    size of the whole record
//   4    method id
//   8    interface id (0 in replies)
//  12    status: the caller's initial value in a request, the result in a reply
//  16    argument count k
//  20    k table entries: offset from the record's start, length
//  ...   the argument bytes, in order, back to back
//
// The header is 20 + 8k bytes but never less than 28.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ipc/guid.h"

namespace Core_IPC {

// An ordered list of opaque arguments: a 32-bit value travels as its four
// little-endian bytes, a 64-bit value as eight, a text as its characters.
using Argument = std::vector<uint8_t>;
using Argument_List = std::vector<Argument>;

struct Call_Record {
  static constexpr size_t kMinHeaderSize = 28;
  static constexpr size_t kTableOffset = 20;

  uint32_t method_id = 0;
  uint32_t interface_id = 0;
  uint32_t status = 0;
  Argument_List arguments;
};

std::vector<uint8_t> build_call_record(uint32_t method_id, uint32_t interface_id, uint32_t status,
                                       const Argument_List& arguments);

// Reads a received record. Refuses one whose size field is smaller than
// its header or larger than the bytes received, whose argument count
// cannot fit, or whose table points outside the record.
std::optional<Call_Record> read_call_record(const uint8_t* bytes, size_t size);

// The interface id of a record that read_call_record would accept, without
// copying its arguments.
std::optional<uint32_t> call_record_interface(const uint8_t* bytes, size_t size);

// Where a service is found: an interface id at an endpoint.
struct Service_Address {
  uint32_t interface_id = 0;
  Guid endpoint;
};

// Argument helpers for the conventions above.
Argument argument_u32(uint32_t value);
Argument argument_u64(uint64_t value);
Argument argument_text(const char* text, size_t size);
std::optional<uint32_t> argument_as_u32(const Argument& argument);

}  // namespace Core_IPC
