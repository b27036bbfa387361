// The host's long-lived objects, built in one order after the host has
// decided to run and torn down in the reverse order of their dependence.
#pragma once

#include <memory>

#include "bridge/plugin_host_service_stub.h"
#include "bridge/plugin_manage.h"
#include "ipc/call_record.h"
#include "runtime/task_queue.h"

namespace Plugin_Host {

class Host_Runtime {
 public:
  // On the main thread, which becomes the owner thread of timers. Sets the
  // host's endpoint id and installs the liveness probe first, then builds
  // the task queue, the timer queue, the channel, the plug-in manager, the
  // client's address and the served interface.
  Host_Runtime();
  // Withdraws the client's address and the served interface, runs what is
  // still queued before the plug-in manager goes, then stops the channel,
  // then frees the queues.
  ~Host_Runtime();

  Host_Runtime(const Host_Runtime&) = delete;
  Host_Runtime& operator=(const Host_Runtime&) = delete;

  Core_Common::Task_Queue& tasks() { return *tasks_; }
  Core_Drovan::PluginManage& plugin() { return *plugin_; }
  const Core_IPC::Service_Address& client_address() const { return client_address_; }

 private:
  std::unique_ptr<Core_Common::Task_Queue> tasks_;
  std::unique_ptr<Core_Drovan::PluginManage> plugin_;
  Core_IPC::Service_Address client_address_;
  std::unique_ptr<Core_Drovan::PluginHost_Service_Stub> stub_;
};

}  // namespace Plugin_Host
