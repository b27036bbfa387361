// Medium_Message: what the shared mapping holds from offset 0.
//
//   0   4  size = body length + 23 (counts the 3-byte tail)
//   4  16  message id
//  20   n  body (one Route_Envelope)
//  20+n 3  tail, content undefined
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ipc/guid.h"

namespace Core_IPC {

struct Medium_Message {
  static constexpr size_t kHeaderSize = 20;
  static constexpr size_t kTailSize = 3;
  static constexpr size_t kOverhead = kHeaderSize + kTailSize;

  Guid message_id;
  const uint8_t* body = nullptr;
  size_t body_size = 0;
};

// Serialises a message; the tail is zero-filled.
std::vector<uint8_t> encode_medium_message(const Guid& message_id, const uint8_t* body,
                                           size_t body_size);

// Reads the size field of a view and returns the message's total size when
// it is at least a header and tail and lies inside the view; nullopt
// otherwise, so the caller never copies past the view.
std::optional<size_t> medium_message_size(const uint8_t* view, size_t view_size);

// Parses a message held in `bytes` (size bytes, as returned by
// medium_message_size). The body points into `bytes`.
std::optional<Medium_Message> decode_medium_message(const uint8_t* bytes, size_t size);

}  // namespace Core_IPC
