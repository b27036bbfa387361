// The host's served interface (987): the main client's requests, checked
// for their argument count, turned into tasks for PluginManage on the main
// thread and answered at once with a status. No call returns data; what the
// plug-in produces reaches the client through its callback interface.
#pragma once

#include <cstdint>
#include <memory>

#include "bridge/plugin_manage.h"
#include "ipc/local_procedure_stub.h"
#include "runtime/task_queue.h"

namespace Core_Drovan {

inline constexpr uint32_t kHostInterfaceId = 987;

class PluginHost_Service_Stub final : public Core_IPC::Local_Procedure_Stub {
 public:
  // Registers interface 987 with the process's service point.
  PluginHost_Service_Stub(PluginManage& plugin, Core_Common::Task_Queue& tasks);
  // Unregisters it.
  ~PluginHost_Service_Stub() override;

  // On a worker thread. Replies 0 (accepted), 2 (wrong argument count) or
  // 3 (unknown method).
  bool dispatch(uint32_t method_id, const Core_IPC::Argument_List& arguments,
                std::unique_ptr<Core_IPC::Respond_Data> respond) override;

 private:
  void post(std::function<void()> task);

  PluginManage& plugin_;
  Core_Common::Task_Queue& tasks_;
};

}  // namespace Core_Drovan
