// Route_Envelope: the body of a Medium_Message.
//
//   0   4  size = PDU length + 43 (counts the 3-byte tail)
//   4  16  destination endpoint id (null = any endpoint)
//  20  16  source endpoint id
//  36   4  PDU length m
//  40   m  PDU
//  40+m 3  tail, content undefined
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ipc/guid.h"

namespace Core_IPC {

struct Route_Envelope {
  static constexpr size_t kHeaderSize = 40;
  static constexpr size_t kTailSize = 3;
  static constexpr size_t kOverhead = kHeaderSize + kTailSize;

  Guid destination;
  Guid source;
  const uint8_t* pdu = nullptr;
  size_t pdu_size = 0;

  // Whether a receiver with endpoint id `self` should take this envelope:
  // addressed to it or to anyone, and not sent by itself.
  bool is_for(const Guid& self) const {
    return (destination.is_null() || destination == self) && source != self;
  }
};

// Serialises an envelope; the tail is zero-filled.
std::vector<uint8_t> encode_route_envelope(const Guid& destination, const Guid& source,
                                           const uint8_t* pdu, size_t pdu_size);

// Parses an envelope held in `bytes`. Refuses one whose size field or PDU
// length claims more than the bytes given; the PDU points into `bytes`.
std::optional<Route_Envelope> decode_route_envelope(const uint8_t* bytes, size_t size);

}  // namespace Core_IPC
