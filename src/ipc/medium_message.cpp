#include "ipc/medium_message.h"

#include <cstring>

#include "base/byte_order.h"

namespace Core_IPC {

std::vector<uint8_t> encode_medium_message(const Guid& message_id, const uint8_t* body,
                                           size_t body_size) {
  std::vector<uint8_t> out(body_size + Medium_Message::kOverhead, 0);
  Core_Common::store_le32(out.data(), static_cast<uint32_t>(out.size()));
  message_id.store(out.data() + 4);
  if (body_size != 0) std::memcpy(out.data() + Medium_Message::kHeaderSize, body, body_size);
  return out;
}

std::optional<size_t> medium_message_size(const uint8_t* view, size_t view_size) {
  if (view == nullptr || view_size < 4) return std::nullopt;
  const size_t size = Core_Common::load_le32(view);
  if (size < Medium_Message::kOverhead || size > view_size) return std::nullopt;
  return size;
}

std::optional<Medium_Message> decode_medium_message(const uint8_t* bytes, size_t size) {
  const auto declared = medium_message_size(bytes, size);
  if (!declared || *declared != size) return std::nullopt;
  Medium_Message m;
  m.message_id = Guid::load(bytes + 4);
  m.body = bytes + Medium_Message::kHeaderSize;
  m.body_size = size - Medium_Message::kOverhead;
  return m;
}

}  // namespace Core_IPC
