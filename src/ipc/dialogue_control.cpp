#include "ipc/dialogue_control.h"

#include <algorithm>

#include "ipc/guid_win32.h"

namespace Core_IPC {

Dialogue_Control::Dialogue_Control(Dialogue_Owner* owner)
    : detector_(std::make_unique<Transport_Detector>(static_cast<Transport_Detector_Owner*>(this))), owner_(owner) {}

Dialogue_Control::~Dialogue_Control() {
  // The receive thread posts to the pool, so it ends first.
  detector_.reset();
}

Dialogue_Control::Pending_Dialogue* Dialogue_Control::find_locked(const Guid& dialogue_id) const {
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [&](const Pending_Dialogue* p) { return p->dialogue_id == dialogue_id; });
  return it == pending_.end() ? nullptr : *it;
}

bool Dialogue_Control::run_request(const uint8_t* payload, size_t size, const Guid& destination,
                                   uint32_t timeout_ms, std::vector<uint8_t>* result) {
  if (!valid()) return false;
  Pending_Dialogue pending;
  pending.dialogue_id = create_guid();
  pending.timeout_ms = timeout_ms;
  pending.completion.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  // The null id means "no reply wanted", so a request must never carry it.
  if (pending.dialogue_id.is_null() || !pending.completion) return false;

  const std::vector<uint8_t> pdu = encode_pdu(pending.dialogue_id, PDU::kRequest, payload, size);
  {
    std::lock_guard<std::mutex> hold(list_lock_);
    if (find_locked(pending.dialogue_id) == nullptr) pending_.push_back(&pending);
    ::ResetEvent(pending.completion.get());
  }
  const auto remove = [&] {
    std::lock_guard<std::mutex> reply_hold(reply_lock_);
    std::lock_guard<std::mutex> list_hold(list_lock_);
    pending_.erase(std::remove(pending_.begin(), pending_.end(), &pending), pending_.end());
  };

  if (!detector_->send(pdu.data(), pdu.size(), destination, timeout_ms)) {
    remove();
    return false;
  }
  const bool signalled =
      ::WaitForSingleObject(pending.completion.get(), pending.timeout_ms) == WAIT_OBJECT_0;

  bool ok = signalled;
  {
    std::lock_guard<std::mutex> reply_hold(reply_lock_);
    if (result != nullptr) {
      ok = signalled && pending.reply.has_value();
      if (ok) *result = std::move(*pending.reply);
    }
    std::lock_guard<std::mutex> list_hold(list_lock_);
    pending_.erase(std::remove(pending_.begin(), pending_.end(), &pending), pending_.end());
  }
  return ok;
}

bool Dialogue_Control::request(const uint8_t* payload, size_t size, const Guid& destination,
                               uint32_t timeout_ms) {
  return run_request(payload, size, destination, timeout_ms, nullptr);
}

bool Dialogue_Control::request_with_result(const uint8_t* payload, size_t size,
                                           std::vector<uint8_t>& result, const Guid& destination,
                                           uint32_t timeout_ms) {
  return run_request(payload, size, destination, timeout_ms, &result);
}

bool Dialogue_Control::match_reply(const PDU& pdu) {
  if (pdu.type != PDU::kReplyWithResult && pdu.type != PDU::kReplyWithoutResult) return false;
  std::lock_guard<std::mutex> reply_hold(reply_lock_);
  Pending_Dialogue* entry;
  {
    std::lock_guard<std::mutex> list_hold(list_lock_);
    entry = find_locked(pdu.dialogue_id);
  }
  if (entry == nullptr) return false;
  if (pdu.type == PDU::kReplyWithResult) {
    entry->reply.emplace(pdu.payload, pdu.payload + pdu.payload_size);
  }
  ::SetEvent(entry->completion.get());
  return true;
}

void Dialogue_Control::on_pdu(const uint8_t* bytes, size_t size, Guid source) {
  const auto pdu = decode_pdu(bytes, size);
  if (!pdu || match_reply(*pdu) || pdu->type != PDU::kRequest || owner_ == nullptr) return;

  struct Incoming {
    std::vector<uint8_t> payload;
    std::unique_ptr<Respond_Data> respond;
  };
  auto incoming = std::make_shared<Incoming>();
  incoming->payload.assign(pdu->payload, pdu->payload + pdu->payload_size);
  if (!pdu->dialogue_id.is_null()) {
    incoming->respond = std::make_unique<Respond_Data>(Respond_Data{pdu->dialogue_id, source});
  }
  Dialogue_Owner* owner = owner_;
  pool_.post([owner, incoming] {
    owner->on_request(incoming->payload.data(), incoming->payload.size(),
                      std::move(incoming->respond));
  });
}

bool Dialogue_Control::accept(const uint8_t* bytes, size_t size) {
  const auto pdu = decode_pdu(bytes, size);
  if (!pdu) return false;
  {
    std::lock_guard<std::mutex> hold(list_lock_);
    if (find_locked(pdu->dialogue_id) != nullptr) return true;
  }
  return owner_ != nullptr && owner_->serves(pdu->payload, pdu->payload_size);
}

bool Dialogue_Control::reply(uint32_t type, const uint8_t* payload, size_t size,
                             std::unique_ptr<Respond_Data> respond, uint32_t timeout_ms) {
  if (!respond) return false;
  const std::vector<uint8_t> pdu = encode_pdu(respond->dialogue_id, type, payload, size);
  const Guid destination = respond->source;
  respond.reset();
  return detector_->send(pdu.data(), pdu.size(), destination, timeout_ms);
}

bool Dialogue_Control::reply_without_result(const uint8_t* payload, size_t size,
                                            std::unique_ptr<Respond_Data> respond,
                                            uint32_t timeout_ms) {
  return reply(PDU::kReplyWithoutResult, payload, size, std::move(respond), timeout_ms);
}

bool Dialogue_Control::reply_with_result(const uint8_t* payload, size_t size,
                                         std::unique_ptr<Respond_Data> respond,
                                         uint32_t timeout_ms) {
  return reply(PDU::kReplyWithResult, payload, size, std::move(respond), timeout_ms);
}

}  // namespace Core_IPC
