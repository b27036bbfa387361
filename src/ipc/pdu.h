// PDU: the body of a Route_Envelope, one step of a dialogue.
//
//   0   4  size = payload length + 31 (counts the 3-byte tail)
//   4  16  dialogue id (new per request, copied into its reply)
//  20   4  type: 3 request, 4 reply with result, 5 reply without result
//  24   4  payload length n
//  28   n  payload (a Call_Record)
//  28+n 3  tail, content undefined
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ipc/guid.h"

namespace Core_IPC {

struct PDU {
  static constexpr size_t kHeaderSize = 28;
  static constexpr size_t kTailSize = 3;
  static constexpr size_t kOverhead = kHeaderSize + kTailSize;

  enum Type : uint32_t {
    kRequest = 3,
    kReplyWithResult = 4,
    kReplyWithoutResult = 5,
  };

  Guid dialogue_id;
  uint32_t type = 0;
  const uint8_t* payload = nullptr;
  size_t payload_size = 0;
};

std::vector<uint8_t> encode_pdu(const Guid& dialogue_id, uint32_t type, const uint8_t* payload,
                                size_t payload_size);

// Refuses a PDU whose size field or payload length disagree or claim more
// than the bytes given; the payload points into `bytes`.
std::optional<PDU> decode_pdu(const uint8_t* bytes, size_t size);

// The reply address of one received request: where its reply goes.
struct Respond_Data {
  Guid dialogue_id;
  Guid source;
};

}  // namespace Core_IPC
