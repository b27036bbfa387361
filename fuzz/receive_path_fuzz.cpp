// Feeds arbitrary bytes to the receive path as if they were the content of
// the shared mapping: size field, message, envelope and addresses. Every
// buffer is allocated to its exact size so that any read past it trips
// AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "ipc/channel_identity.h"
#include "ipc/medium_message.h"
#include "ipc/route_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Core_IPC;
  auto view = std::make_unique<uint8_t[]>(size);
  if (size != 0) std::memcpy(view.get(), data, size);

  const auto message_size = medium_message_size(view.get(), size);
  if (!message_size) return 0;
  auto copy = std::make_unique<uint8_t[]>(*message_size);
  std::memcpy(copy.get(), view.get(), *message_size);

  const auto message = decode_medium_message(copy.get(), *message_size);
  if (!message) __builtin_trap();  // a size the reader accepted must decode
  const auto envelope = decode_route_envelope(message->body, message->body_size);
  if (!envelope) return 0;

  // Touch every PDU byte so an out-of-range PDU is caught here.
  volatile uint8_t sink = 0;
  for (size_t i = 0; i < envelope->pdu_size; ++i) sink ^= envelope->pdu[i];
  (void)sink;
  (void)envelope->is_for(kHostEndpointId);
  return 0;
}
