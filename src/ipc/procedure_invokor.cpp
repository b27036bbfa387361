#include "ipc/procedure_invokor.h"

namespace Core_IPC {

Procedure_Invokor::Procedure_Invokor(Transmit_Point_Int* transmit)
    : transmit_(transmit), dialogue_(std::make_unique<Dialogue_Control>(static_cast<Dialogue_Owner*>(this))) {}

bool Procedure_Invokor::call(uint32_t method_id, const Argument_List& arguments,
                             const Guid& destination, uint32_t interface_id, uint32_t status,
                             uint32_t timeout_ms) {
  last_timeout_ = timeout_ms;
  const std::vector<uint8_t> record = build_call_record(method_id, interface_id, status, arguments);
  return dialogue_->request(record.data(), record.size(), destination, timeout_ms);
}

bool Procedure_Invokor::call_with_result(uint32_t method_id, const Argument_List& arguments,
                                         Argument_List& results, const Guid& destination,
                                         uint32_t interface_id, uint32_t& status,
                                         uint32_t timeout_ms) {
  last_timeout_ = timeout_ms;
  const std::vector<uint8_t> record = build_call_record(method_id, interface_id, status, arguments);
  std::vector<uint8_t> reply;
  if (!dialogue_->request_with_result(record.data(), record.size(), reply, destination, timeout_ms)) {
    return false;
  }
  if (reply.empty()) return status == 0;
  // A malformed reply record counts as no reply: the status stays.
  auto read = read_call_record(reply.data(), reply.size());
  if (!read) return false;
  status = read->status;
  for (Argument& a : read->arguments) results.push_back(std::move(a));
  return status == 0;
}

bool Procedure_Invokor::reply_with_arguments(uint32_t method_id, const Argument_List& arguments,
                                             std::unique_ptr<Respond_Data> respond,
                                             uint32_t status, uint32_t timeout_ms) {
  const std::vector<uint8_t> record = build_call_record(method_id, 0, status, arguments);
  return dialogue_->reply_with_result(record.data(), record.size(), std::move(respond), timeout_ms);
}

bool Procedure_Invokor::reply(uint32_t method_id, std::unique_ptr<Respond_Data> respond,
                              uint32_t status, uint32_t timeout_ms) {
  return reply_with_arguments(method_id, {}, std::move(respond), status, timeout_ms);
}

bool Procedure_Invokor::reply_without_result(std::unique_ptr<Respond_Data> respond,
                                             uint32_t timeout_ms) {
  return dialogue_->reply_without_result(nullptr, 0, std::move(respond), timeout_ms);
}

void Procedure_Invokor::on_request(const uint8_t* record, size_t size,
                                   std::unique_ptr<Respond_Data> respond) {
  if (transmit_ == nullptr) return;
  // A malformed record is dropped; its caller times out.
  const auto read = read_call_record(record, size);
  if (!read) return;
  transmit_->dispatch(read->method_id, read->interface_id, read->arguments, std::move(respond));
}

bool Procedure_Invokor::serves(const uint8_t* record, size_t size) {
  // A record that cannot be read is not acknowledged, so its sender learns
  // at once rather than after its whole time-out.
  const auto interface_id = call_record_interface(record, size);
  return interface_id && transmit_ != nullptr && transmit_->serves(*interface_id);
}

}  // namespace Core_IPC
