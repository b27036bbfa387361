#include "ipc/transport_detector.h"

#include <vector>

#include "ipc/channel_identity.h"
#include "ipc/channel_names.h"
#include "ipc/route_envelope.h"

namespace Core_IPC {

Transport_Detector::Transport_Detector(Transport_Detector_Owner* owner)
    : owner_(owner),
      own_endpoint_(own_endpoint_id()),
      medium_(std::make_unique<Transport_Medium>(this, own_endpoint_)) {}

bool Transport_Detector::accept(const uint8_t* envelope, size_t size) {
  // The address is not checked here: an envelope for another endpoint is
  // acknowledged when the owner wants its PDU, and dropped on receive.
  const auto decoded = decode_route_envelope(envelope, size);
  return decoded && owner_ != nullptr && owner_->accept(decoded->pdu, decoded->pdu_size);
}

void Transport_Detector::on_receive(const uint8_t* envelope, size_t size) {
  const auto decoded = decode_route_envelope(envelope, size);
  if (!decoded || owner_ == nullptr || !decoded->is_for(own_endpoint_)) return;
  owner_->on_pdu(decoded->pdu, decoded->pdu_size, decoded->source);
}

bool Transport_Detector::send(const uint8_t* pdu, size_t length, const Guid& destination,
                              uint32_t timeout_ms) {
  // Anything this large cannot fit the mapping; refuse before copying it.
  if (!medium_ || length >= kMappingSize) return false;
  const std::vector<uint8_t> envelope =
      encode_route_envelope(destination, own_endpoint_, pdu, length);
  return medium_->send(envelope.data(), envelope.size(), destination, timeout_ms);
}

}  // namespace Core_IPC
