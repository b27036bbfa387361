#include "ipc/transport_medium.h"

#include <algorithm>
#include <vector>

#include "ipc/channel_names.h"
#include "ipc/guid_win32.h"
#include "system/event_operations.h"

namespace Core_IPC {

Transport_Medium::Transport_Medium(Transport_Detector_Int* owner, const Guid& own_endpoint)
    : owner_(owner) {
  build(own_endpoint);
}

void Transport_Medium::build(const Guid& own_endpoint) {
  writer_mutex_.reset(::CreateMutexW(nullptr, FALSE, kWriterMutexName));
  if (!writer_mutex_ || !acknowledge_event_.create_event(kAcknowledgeEventName, false) ||
      !wake_all_event_.create_event(kWakeAllEventName, true)) {
    valid_ = false;
    return;
  }
  watch_ = std::make_unique<Data_Notify_Watch>(this, wake_all_event_.handle(),
                                               endpoint_event_name(own_endpoint));
  if (watch_->failed()) {
    valid_ = false;
    return;
  }
  mapping_ = std::make_unique<Data_Transport_Control>(this);
  if (mapping_->failed()) valid_ = false;
}

Transport_Medium::~Transport_Medium() {
  // The receive thread reads the mapping, so it ends first.
  watch_.reset();
  mapping_.reset();
}

bool Transport_Medium::stop_receiving() {
  const bool ended = watch_ == nullptr || watch_->stop(kReceiveStopMs);
  watch_.reset();
  return ended;
}

bool Transport_Medium::start() { return valid_ && watch_ && watch_->start(); }

Guid Transport_Medium::new_message_id() {
  std::lock_guard<std::mutex> hold(id_lock_);
  return create_guid();
}

bool Transport_Medium::send(const uint8_t* bytes, size_t length, const Guid& destination,
                            uint32_t /*timeout_ms*/) {
  if (!valid_ || bytes == nullptr || length == 0) return false;
  if (length >= kMappingSize - Medium_Message::kOverhead) return false;

  Core_Common::Mutex_Guard writer(writer_mutex_.get(), kWriterMutexWaitMs);
  if (writer.timed_out()) return false;

  const std::vector<uint8_t> message = encode_medium_message(new_message_id(), bytes, length);
  if (!mapping_->write(message.data(), message.size())) return false;

  // An acknowledgement left over from an earlier send must not count.
  Core_Common::drain_event(acknowledge_event_.handle(), kAcknowledgeWaitMs);
  signal_endpoint(destination);
  if (::WaitForSingleObject(acknowledge_event_.handle(), kAcknowledgeWaitMs) == WAIT_OBJECT_0) return true;
  // An endpoint that did not answer may be gone: its event is let go, so
  // that it no longer exists unless someone else holds it, as when it was
  // opened and closed for every send. A restarted endpoint then finds no
  // stale signal.
  forget_endpoint(destination);
  return false;
}

void Transport_Medium::signal_endpoint(const Guid& destination) {
  auto kept = std::find_if(notify_events_.begin(), notify_events_.end(),
                           [&](const Notify_Event& e) { return e.endpoint == destination; });
  if (kept != notify_events_.end()) {
    Core_Common::drain_event(kept->event.get(), kNotifyDrainLimitMs);
    if (::SetEvent(kept->event.get())) return;
    notify_events_.erase(kept);  // no longer usable: open it by name again
  }
  // Nothing is set when no process has created the endpoint's event; an
  // endpoint that has none is not kept either.
  const std::wstring name = endpoint_event_name(destination);
  Core_Common::Unique_Handle event(::OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str()));
  if (!event) return;
  Core_Common::drain_event(event.get(), kNotifyDrainLimitMs);
  ::SetEvent(event.get());
  if (notify_events_.size() == kKeptNotifyEvents) notify_events_.erase(notify_events_.begin());
  notify_events_.push_back({destination, std::move(event)});
}

void Transport_Medium::forget_endpoint(const Guid& destination) {
  notify_events_.erase(std::remove_if(notify_events_.begin(), notify_events_.end(),
                                      [&](const Notify_Event& e) { return e.endpoint == destination; }),
                       notify_events_.end());
}

void Transport_Medium::on_notify() {
  std::vector<uint8_t> copy;
  {
    const uint8_t* view = mapping_->data();
    if (view == nullptr) return;
    // A size field that is too small or claims more than the mapping is
    // dropped unread; the sender times out as for any unanswered message.
    const auto size = medium_message_size(view, mapping_->size());
    if (!size) return;
    const Guid id = Guid::load(view + 4);
    {
      std::lock_guard<std::mutex> hold(last_id_lock_);
      if (id == last_message_id_) return;  // already taken; not acknowledged again
      last_message_id_ = id;
    }
    copy.assign(view, view + *size);
  }

  const auto message = decode_medium_message(copy.data(), copy.size());
  if (!message || !accept(*message)) return;
  ::SetEvent(acknowledge_event_.handle());
  owner_->on_receive(message->body, message->body_size);
}

bool Transport_Medium::accept(const Medium_Message& message) {
  return owner_ != nullptr && owner_->accept(message.body, message.body_size);
}

}  // namespace Core_IPC
