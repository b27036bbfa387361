#include "bridge/plugin_host_service_stub.h"

#include "bridge/host_callbacks.h"
#include "bridge/stub_arguments.h"
#include "ipc/procedure_calls.h"

namespace Core_Drovan {

namespace {

using Core_IPC::Argument_List;

// Argument count of each method, by id.
constexpr size_t kArgumentCounts[] = {2, 1, 1, 0, 1, 4, 2, 0, 0};
constexpr uint32_t kMethodCount = sizeof kArgumentCounts / sizeof kArgumentCounts[0];

}  // namespace

PluginHost_Service_Stub::PluginHost_Service_Stub(PluginManage& plugin, Core_Common::Task_Queue& tasks)
    : plugin_(plugin), tasks_(tasks) {
  Core_IPC::register_stub(this, kHostInterfaceId);
}

PluginHost_Service_Stub::~PluginHost_Service_Stub() { Core_IPC::unregister_stub(this); }

void PluginHost_Service_Stub::post(std::function<void()> task) {
  tasks_.post_task(plugin_.task_owner(), std::move(task));
}

bool PluginHost_Service_Stub::dispatch(uint32_t method_id, const Argument_List& arguments,
                                       std::unique_ptr<Core_IPC::Respond_Data> respond) {
  if (method_id >= kMethodCount) {
    return Core_IPC::respond(method_id, std::move(respond), Core_IPC::kStatusUnknownMethod);
  }
  if (arguments.size() != kArgumentCounts[method_id]) {
    return Core_IPC::respond(method_id, std::move(respond), Core_IPC::kStatusWrongArgumentCount);
  }
  PluginManage& plugin = plugin_;
  switch (method_id) {
    case 0: {
      const std::string link = argument_string(arguments[0]);
      const int32_t cookie = argument_i32(arguments[1], 0);
      post([&plugin, link, cookie] { plugin.add_by_link(link, cookie); });
      break;
    }
    case 1: {
      const int32_t item_id = argument_i32(arguments[0], -1);
      post([&plugin, item_id] { plugin.remove_item(item_id); });
      break;
    }
    case 2: {
      const int32_t item_id = argument_i32(arguments[0], -1);
      post([&plugin, item_id] { plugin.query_item(item_id); });
      break;
    }
    case 3:
      post([&plugin] { plugin.close_if_idle(); });
      break;
    case 4: {
      const bool show = argument_byte(arguments[0]) != 0;
      post([&plugin, show] { plugin.show(show); });
      if (InterfaceDrovanPlugin_CallBack* host = host_window_callback()) host->show_host_window(show);
      break;
    }
    case 5: {
      const InterfaceDrovan::connection_setting_t settings{
          argument_i32(arguments[0], 0), argument_i32(arguments[1], 0), argument_u16(arguments[2]),
          argument_u16(arguments[3])};
      post([&plugin, settings] { plugin.set_connection(settings); });
      break;
    }
    case 6: {
      const std::u16string link = argument_wide(arguments[0]);
      const uint64_t value = argument_u64(arguments[1]);
      post([&plugin, link, value] {
        plugin.open_link_with_value(std::wstring(link.begin(), link.end()), value);
      });
      break;
    }
    case 7:
      post([&plugin] { plugin.list_items(); });
      break;
    case 8:
      plugin.call_slot_39();
      break;
  }
  return Core_IPC::respond(method_id, std::move(respond), Core_IPC::kStatusSuccess);
}

}  // namespace Core_Drovan
