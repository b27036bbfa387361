#include "ipc/dialogue_control.h"

#include <algorithm>
#include <new>

#include "ipc/guid_win32.h"

namespace Core_IPC {

Dialogue_Control::Dialogue_Control(Dialogue_Owner* owner)
    : detector_(std::make_unique<Transport_Detector>(static_cast<Transport_Detector_Owner*>(this))), owner_(owner) {}

Dialogue_Control::~Dialogue_Control() {
  stop_threads();
  detector_.reset();
}

size_t Dialogue_Control::pending_count() const {
  std::lock_guard<std::mutex> hold(list_lock_);
  return pending_.size();
}

bool Dialogue_Control::stop_threads() {
  // The receive thread posts to the pool, so it ends first; workers still
  // answer through the detector, so it goes only after them.
  const bool receiver_ended = detector_ == nullptr || detector_->stop_receiving();
  const bool workers_ended = pool_.stop();
  return receiver_ended && workers_ended;
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
  pending.completion = take_completion_event();
  // The null id means "no reply wanted", so a request must never carry it.
  if (pending.dialogue_id.is_null() || !pending.completion) return false;

  try {
    const std::vector<uint8_t> pdu = encode_pdu(pending.dialogue_id, PDU::kRequest, payload, size);
    // The entry lives in this frame: however the request ends, even by an
    // exception, it leaves the list before the frame goes.
    const Listing listing(*this, pending);
    if (!detector_->send(pdu.data(), pdu.size(), destination, timeout_ms)) return false;
    const bool signalled =
        ::WaitForSingleObject(pending.completion.get(), pending.timeout_ms) == WAIT_OBJECT_0;
    std::lock_guard<std::mutex> reply_hold(reply_lock_);
    if (result == nullptr) return signalled;
    if (!signalled || !pending.reply.has_value()) return false;
    *result = std::move(*pending.reply);
    return true;
  } catch (const std::bad_alloc&) {
    // Copies of a request of up to 10 MB: a failed one fails the call.
    return false;
  }
}

Dialogue_Control::Listing::Listing(Dialogue_Control& control, Pending_Dialogue& entry)
    : control_(control), entry_(entry) {
  std::lock_guard<std::mutex> hold(control_.list_lock_);
  if (control_.find_locked(entry_.dialogue_id) == nullptr) control_.pending_.push_back(&entry_);
  ::ResetEvent(entry_.completion.get());
}

Dialogue_Control::Listing::~Listing() {
  // Both locks: a reply that arrives as the caller gives up is either
  // matched before this or finds nothing.
  std::lock_guard<std::mutex> reply_hold(control_.reply_lock_);
  std::lock_guard<std::mutex> list_hold(control_.list_lock_);
  auto& pending = control_.pending_;
  pending.erase(std::remove(pending.begin(), pending.end(), &entry_), pending.end());
  // Unlisted under both locks, no reply can set it any more: it may serve
  // the next request.
  if (control_.spare_events_.size() < kSpareEvents) {
    control_.spare_events_.push_back(std::move(entry_.completion));
  }
}

Core_Common::Unique_Handle Dialogue_Control::take_completion_event() {
  {
    std::lock_guard<std::mutex> hold(list_lock_);
    if (!spare_events_.empty()) {
      Core_Common::Unique_Handle event = std::move(spare_events_.back());
      spare_events_.pop_back();
      return event;
    }
  }
  return Core_Common::Unique_Handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
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
