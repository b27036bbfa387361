#include "host/host_runtime.h"

#include "bridge/client_calls.h"
#include "bridge/plugin_callbacks.h"
#include "host/liveness_probe.h"
#include "ipc/channel_identity.h"
#include "ipc/ipc_service_point.h"
#include "runtime/timer_queue.h"

namespace Plugin_Host {

namespace {

// The main client serves this interface at its endpoint.
constexpr uint32_t kClientInterfaceId = 654;

}  // namespace

Host_Runtime::Host_Runtime() {
  Core_IPC::set_own_endpoint_id(Core_IPC::kHostEndpointId);
  Core_Drovan::install_liveness_probe(&drovanCallback::instance());
  tasks_ = std::make_unique<Core_Common::Task_Queue>();
  Core_Common::create_timer_queue();
  Core_IPC::IPC_Service_Point::instance();
  plugin_ = std::make_unique<Core_Drovan::PluginManage>(*tasks_, Core_Drovan::host_plugin_callbacks());
  client_address_ = Core_IPC::Service_Address{kClientInterfaceId, Core_IPC::kClientEndpointId};
  Core_Drovan::set_client_address(client_address_);
  stub_ = std::make_unique<Core_Drovan::PluginHost_Service_Stub>(*plugin_, *tasks_);
}

Host_Runtime::~Host_Runtime() {
  Core_Drovan::set_client_address(std::nullopt);
  if (plugin_->worker_still_inside()) {
    // A channel worker never came back from the plug-in: what it may touch
    // when it does stays as it is, and the channel's shutdown, which ends
    // its workers in bounded time, ends it.
    static_cast<void>(stub_.release());
    static_cast<void>(plugin_.release());
  } else {
    stub_.reset();
    // Tasks already queued still run: a request the client was told
    // succeeded is not dropped.
    tasks_->run_tasks();
    plugin_.reset();
  }
  Core_IPC::IPC_Service_Point::shut_down();
  tasks_.reset();
  Core_Common::destroy_timer_queue();
}

}  // namespace Plugin_Host
