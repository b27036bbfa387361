#include "ipc/procedure_calls.h"

namespace Core_IPC {

IPC_Service_Point& service_point() { return IPC_Service_Point::instance(); }

bool call(const Service_Address& address, uint32_t& status, uint32_t method_id,
          const Argument_List& arguments) {
  IPC_Service_Point& point = service_point();
  if (!point.valid()) {
    status = kStatusChannelNotValid;
    return false;
  }
  return point.invokor().call(method_id, arguments, address.endpoint, address.interface_id, status,
                              kCallTimeoutMs);
}

bool call_with_result(const Service_Address& address, uint32_t& status, uint32_t method_id,
                      const Argument_List& arguments, Argument_List& results) {
  IPC_Service_Point& point = service_point();
  if (!point.valid()) {
    status = kStatusChannelNotValid;
    return false;
  }
  return point.invokor().call_with_result(method_id, arguments, results, address.endpoint,
                                          address.interface_id, status, kCallTimeoutMs);
}

// An answer goes through the channel its call came in on. One that comes
// after that channel was shut down fails; it never builds a new channel.
bool respond(uint32_t method_id, std::unique_ptr<Respond_Data> respond_data, uint32_t status) {
  IPC_Service_Point* point = IPC_Service_Point::existing();
  if (point == nullptr) return false;
  return point->respond(method_id, std::move(respond_data), status, kCallTimeoutMs);
}

bool respond_with_arguments(uint32_t method_id, std::unique_ptr<Respond_Data> respond_data,
                            uint32_t status, const Argument_List& results) {
  IPC_Service_Point* point = IPC_Service_Point::existing();
  if (point == nullptr) return false;
  if (point->valid()) {
    point->invokor().reply_with_arguments(method_id, results, std::move(respond_data), status,
                                          kCallTimeoutMs);
  }
  return true;  // as respond: true whatever the outcome
}

void register_stub(Local_Procedure_Stub* stub, uint32_t interface_id) {
  service_point().register_stub(stub, interface_id);
}

void unregister_stub(Local_Procedure_Stub* stub) {
  if (IPC_Service_Point* point = IPC_Service_Point::existing()) point->unregister_stub(stub);
}

}  // namespace Core_IPC
