#include "ipc/route_envelope.h"

#include <cstring>

#include "base/byte_order.h"

namespace Core_IPC {

using Core_Common::load_le32;
using Core_Common::store_le32;

std::vector<uint8_t> encode_route_envelope(const Guid& destination, const Guid& source,
                                           const uint8_t* pdu, size_t pdu_size) {
  std::vector<uint8_t> out(pdu_size + Route_Envelope::kOverhead, 0);
  store_le32(out.data(), static_cast<uint32_t>(out.size()));
  destination.store(out.data() + 4);
  source.store(out.data() + 20);
  store_le32(out.data() + 36, static_cast<uint32_t>(pdu_size));
  if (pdu_size != 0) std::memcpy(out.data() + Route_Envelope::kHeaderSize, pdu, pdu_size);
  return out;
}

std::optional<Route_Envelope> decode_route_envelope(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < Route_Envelope::kHeaderSize) return std::nullopt;
  const size_t declared = load_le32(bytes);
  const size_t pdu_size = load_le32(bytes + 36);
  // The size field and the PDU length must agree and fit what was received;
  // the comparison is done in 64 bits so a huge length cannot wrap.
  if (declared > size || static_cast<uint64_t>(pdu_size) + Route_Envelope::kOverhead != declared) {
    return std::nullopt;
  }
  Route_Envelope e;
  e.destination = Guid::load(bytes + 4);
  e.source = Guid::load(bytes + 20);
  e.pdu = bytes + Route_Envelope::kHeaderSize;
  e.pdu_size = pdu_size;
  return e;
}

}  // namespace Core_IPC
