#include "ipc/pdu.h"

#include <cstring>

#include "base/byte_order.h"

namespace Core_IPC {

using Core_Common::load_le32;
using Core_Common::store_le32;

std::vector<uint8_t> encode_pdu(const Guid& dialogue_id, uint32_t type, const uint8_t* payload,
                                size_t payload_size) {
  std::vector<uint8_t> out(payload_size + PDU::kOverhead, 0);
  store_le32(out.data(), static_cast<uint32_t>(out.size()));
  dialogue_id.store(out.data() + 4);
  store_le32(out.data() + 20, type);
  store_le32(out.data() + 24, static_cast<uint32_t>(payload_size));
  if (payload_size != 0) std::memcpy(out.data() + PDU::kHeaderSize, payload, payload_size);
  return out;
}

std::optional<PDU> decode_pdu(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < PDU::kHeaderSize) return std::nullopt;
  const size_t declared = load_le32(bytes);
  const size_t payload_size = load_le32(bytes + 24);
  if (declared > size || static_cast<uint64_t>(payload_size) + PDU::kOverhead != declared) {
    return std::nullopt;
  }
  PDU pdu;
  pdu.dialogue_id = Guid::load(bytes + 4);
  pdu.type = load_le32(bytes + 20);
  pdu.payload = bytes + PDU::kHeaderSize;
  pdu.payload_size = payload_size;
  return pdu;
}

}  // namespace Core_IPC
