#include "ipc/ipc_service_point.h"

#include <algorithm>
#include <mutex>

namespace Core_IPC {

namespace {

std::mutex& instance_lock() {
  static std::mutex lock;
  return lock;
}

std::unique_ptr<IPC_Service_Point>& instance_slot() {
  static std::unique_ptr<IPC_Service_Point> slot;
  return slot;
}

}  // namespace

IPC_Service_Point& IPC_Service_Point::instance() {
  std::lock_guard<std::mutex> hold(instance_lock());
  auto& slot = instance_slot();
  if (!slot) {
    slot.reset(new IPC_Service_Point());  // private constructor
    if (slot->invokor_->valid()) slot->invokor_->start();
  }
  return *slot;
}

IPC_Service_Point* IPC_Service_Point::existing() {
  std::lock_guard<std::mutex> hold(instance_lock());
  return instance_slot().get();
}

void IPC_Service_Point::shut_down() {
  IPC_Service_Point* point = existing();
  if (point == nullptr) return;
  // The threads end first, with the point still in its slot: a call that
  // runs meanwhile still answers through it. Without the instance lock, as
  // they may ask for the point.
  point->stop_threads();
  std::unique_ptr<IPC_Service_Point> gone;
  {
    std::lock_guard<std::mutex> hold(instance_lock());
    gone = std::move(instance_slot());
  }
}

void IPC_Service_Point::stop_threads() {
  if (threads_stopped_) return;
  threads_ended_ = invokor_->stop_threads();
  threads_stopped_ = true;
}

IPC_Service_Point::IPC_Service_Point() : invokor_(std::make_unique<Procedure_Invokor>(&transmit_)) {}

IPC_Service_Point::~IPC_Service_Point() {
  // The channel's threads dispatch into the table and call back into this
  // object, so they end first, while all of it still exists.
  stop_threads();
  {
    // A worker terminated during a dispatch never releases its shared
    // hold; with every thread of the channel gone the table needs no lock.
    std::unique_lock<std::shared_mutex> hold(table_lock_, std::defer_lock);
    if (threads_ended_) hold.lock();
    for (const Stub_Entry& entry : table_) entry.stub->interface_id_ = 0;
    table_.clear();
  }
  invokor_.reset();
}

bool IPC_Service_Point::respond(uint32_t method_id, std::unique_ptr<Respond_Data> respond,
                                uint32_t status, uint32_t timeout_ms) {
  if (invokor_->valid()) invokor_->reply(method_id, std::move(respond), status, timeout_ms);
  return true;
}

void IPC_Service_Point::register_stub(Local_Procedure_Stub* stub, uint32_t interface_id) {
  stub->interface_id_ = interface_id;
  if (!valid()) return;
  std::unique_lock<std::shared_mutex> hold(table_lock_);
  const bool taken = std::any_of(table_.begin(), table_.end(),
                                 [&](const Stub_Entry& e) { return e.interface_id == interface_id; });
  if (!taken) table_.push_back({stub, interface_id});
}

void IPC_Service_Point::unregister_stub(Local_Procedure_Stub* stub) {
  if (!valid()) return;
  // Only the stub's own entry goes: a stub refused for a taken id must not
  // take the first one's entry with it.
  std::unique_lock<std::shared_mutex> hold(table_lock_);
  table_.erase(std::remove_if(table_.begin(), table_.end(),
                              [&](const Stub_Entry& e) { return e.stub == stub; }),
               table_.end());
}

std::vector<std::pair<uint32_t, Local_Procedure_Stub*>> IPC_Service_Point::registered() const {
  std::shared_lock<std::shared_mutex> hold(table_lock_);
  std::vector<std::pair<uint32_t, Local_Procedure_Stub*>> out;
  for (const Stub_Entry& e : table_) out.emplace_back(e.interface_id, e.stub);
  return out;
}

void IPC_Service_Point::Transmit_Point::dispatch(uint32_t method_id, uint32_t interface_id,
                                                 const Argument_List& arguments,
                                                 std::unique_ptr<Respond_Data> respond) {
  if (!owner->valid()) return;
  std::shared_lock<std::shared_mutex> hold(owner->table_lock_);
  for (const Stub_Entry& e : owner->table_) {
    if (e.interface_id == interface_id) {
      e.stub->dispatch(method_id, arguments, std::move(respond));
      return;
    }
  }
}

bool IPC_Service_Point::Transmit_Point::serves(uint32_t interface_id) {
  std::shared_lock<std::shared_mutex> hold(owner->table_lock_);
  return std::any_of(owner->table_.begin(), owner->table_.end(),
                     [&](const Stub_Entry& e) { return e.interface_id == interface_id; });
}

Local_Procedure_Stub::~Local_Procedure_Stub() {
  if (IPC_Service_Point* point = IPC_Service_Point::existing()) point->unregister_stub(this);
}

}  // namespace Core_IPC
