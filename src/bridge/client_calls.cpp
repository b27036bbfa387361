#include "bridge/client_calls.h"

#include <mutex>

#include "bridge/host_callbacks.h"
#include "ipc/procedure_calls.h"

namespace Core_Drovan {

namespace {

struct Address_Slot {
  std::mutex lock;
  std::optional<Core_IPC::Service_Address> address;
};

Address_Slot& address_slot() {
  static Address_Slot slot;
  return slot;
}

// The address to call, when there is one and the client runs.
std::optional<Core_IPC::Service_Address> reachable_client() {
  std::optional<Core_IPC::Service_Address> address;
  {
    std::lock_guard<std::mutex> hold(address_slot().lock);
    address = address_slot().address;
  }
  InterfaceDrovan_Callback* probe = liveness_probe();
  if (!address || probe == nullptr || !probe->main_client_alive()) return std::nullopt;
  return address;
}

}  // namespace

void set_client_address(std::optional<Core_IPC::Service_Address> address) {
  std::lock_guard<std::mutex> hold(address_slot().lock);
  address_slot().address = address;
}

bool has_client_address() {
  std::lock_guard<std::mutex> hold(address_slot().lock);
  return address_slot().address.has_value();
}

bool notify_client(uint32_t method_id, const Core_IPC::Argument_List& arguments) {
  const auto address = reachable_client();
  if (!address) return false;
  uint32_t status = 0;
  return Core_IPC::call(*address, status, method_id, arguments);
}

bool ask_client(uint32_t method_id, const Core_IPC::Argument_List& arguments,
                Core_IPC::Argument_List& results) {
  const auto address = reachable_client();
  if (!address) return false;
  uint32_t status = 0;
  return Core_IPC::call_with_result(*address, status, method_id, arguments, results);
}

}  // namespace Core_Drovan
