#include "bridge/plugin_manage.h"

#include <cstring>

#include "bridge/host_callbacks.h"
#include "system/system_info.h"
#include "system/version_info.h"

namespace Core_Drovan {

using namespace InterfaceDrovan;

namespace {

constexpr wchar_t kLibraryName[] = L"plugin_Drovan.dll";
// How long the library waits at unload for a worker inside slot 39, and
// for the plug-in's threads inside a callback: a call to the main client
// takes at most 2 s for the writer mutex, 1 s to drain, 1 s for the
// acknowledgement and 5 s for the answer.
constexpr DWORD kWorkerBoundMs = 10000;
constexpr DWORD kCallbackBoundMs = 12000;

// "FileVersion" of a file, empty when it has no readable resource.
std::wstring release_of(const std::wstring& file) {
  Core_Common::version_info info;
  if (!Core_Common::read_version_info(file, info)) return std::wstring();
  return Core_Common::file_version_text(info);
}

}  // namespace

PluginManage::PluginManage(Core_Common::Task_Queue& tasks, Plugin_Callbacks callbacks,
                           std::wstring host_file)
    : tasks_(tasks), callbacks_(callbacks), host_file_(std::move(host_file)) {}

PluginManage::~PluginManage() {
  sink_.destroy();
  retry_list_.clear();
  if (retry_timer_ != nullptr) Core_Common::kill_timer(retry_timer_);
  tasks_.cancel_tasks(task_owner());
}

std::wstring PluginManage::host_executable_path() { return Core_Common::get_program_path(); }

std::wstring PluginManage::library_path() {
  // Empty, and so refused by load, when the directory cannot be had: a
  // bare name would be looked for elsewhere.
  const std::wstring dir = Core_Common::get_program_dir();
  return dir.empty() ? dir : dir + L"\\" + kLibraryName;
}

bool PluginManage::release_matches(const std::wstring& library) const {
  return release_of(library) == release_of(host_file_);
}

void PluginManage::free_library() {
  if (table_ && table_->module != nullptr) ::FreeLibrary(table_->module);
  table_.reset();
}

bool PluginManage::load(const std::wstring& path) {
  if (path.empty()) return false;
  if (loaded_) return true;

  table_ = std::make_unique<Plugin_Function_Table>();  // zero-filled
  {
    // No system dialog for a bad image: a failed load shows nothing.
    DWORD previous_mode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode);
    table_->module = ::LoadLibraryW(path.c_str());
    ::SetThreadErrorMode(previous_mode, nullptr);
  }
  if (table_->module == nullptr) {
    table_.reset();
    return false;
  }
  const auto fill = reinterpret_cast<Fill_Function_Table_Fn>(reinterpret_cast<void*>(
      ::GetProcAddress(table_->module, MAKEINTRESOURCEA(kFillFunctionTableOrdinal))));
  if (fill == nullptr) {
    free_library();
    return false;
  }
  // The export may fill the slots only; the module handle stays the host's.
  const HMODULE module = table_->module;
  fill(table_.get());
  table_->module = module;

  // A library of another release is never started, not even handshaken.
  Handshake_Block block{};
  std::memcpy(block.agreed, kHandshakeValue, sizeof block.agreed);
  block.sixteen = 16;
  if (!release_matches(path) || table_->handshake == nullptr || table_->handshake(&block) == 0) {
    free_library();
    return false;
  }
  loaded_ = true;
  worker_calls_.open();  // after the table: a worker that is admitted sees the table
  workers_waited_for_ = workers_withdrawn_ = false;
  if (callbacks_.in_flight != nullptr) callbacks_.in_flight->open();

  const HWND sink = sink_.create(
      [this](int32_t item_id, uint32_t code) { on_plugin_event(item_id, code); });
  if (table_->set_callbacks != nullptr) {
    table_->set_callbacks(sink, callbacks_.call_client_0, callbacks_.call_client_1,
                          callbacks_.read_client_data);
  }
  return true;
}

void PluginManage::set_connection(const connection_setting_t& settings) {
  if (!loaded_ || table_->set_connection == nullptr) return;
  connection_setting_t copy = settings;
  table_->set_connection(&copy);
}

bool PluginManage::start() {
  if (!loaded_) return false;
  if (table_->start != nullptr && table_->start() != 0) return true;
  unload();
  return false;
}

void PluginManage::stop() {
  if (!loaded_) return;
  withdraw_from_workers();
  if (table_->stop != nullptr) table_->stop();
}

// Waits once: stop and unload both withdraw, and a worker that outlasted
// the bound at the first is not waited for again.
void PluginManage::withdraw_from_workers() {
  worker_calls_.close();
  if (!workers_waited_for_) {
    workers_waited_for_ = true;
    workers_withdrawn_ = worker_calls_.wait_until_idle(kWorkerBoundMs);
  }
}

void PluginManage::show(bool shown) {
  if (!loaded_ || table_->show == nullptr) return;
  table_->show(shown ? 1 : 0);
  shown_ = shown;
}

void PluginManage::post_show(bool shown) {
  tasks_.post_task(task_owner(), [this, shown] { show(shown); });
}

bool PluginManage::open_link(const std::wstring& link, std::array<uint8_t, 16>& result) {
  if (!loaded_ || table_->open_link == nullptr) return false;
  const Link_Record record{link.c_str()};
  uint8_t out[16] = {};
  if (table_->open_link(&record, out) == 0) return false;
  std::memcpy(result.data(), out, sizeof out);
  return true;
}

void PluginManage::unload() {
  if (!loaded_) return;
  // Callbacks asked from here on fail at once; those under way end within
  // their wait for the client.
  if (callbacks_.in_flight != nullptr) callbacks_.in_flight->close();
  withdraw_from_workers();
  if (table_->stop != nullptr) table_->stop();
  if (table_->release != nullptr) table_->release();
  loaded_ = false;  // before the library goes: nothing may call into it now
  // A plug-in thread that was inside a callback runs the library's code
  // again once it returns: then the library stays.
  const bool callbacks_done =
      callbacks_.in_flight == nullptr || (callbacks_.in_flight->wait_until_idle(kCallbackBoundMs) &&
                                          callbacks_.in_flight->quiet_since_close());
  if (workers_withdrawn_ && callbacks_done) {
    free_library();
  } else {
    // A thread is still inside at the bound: the library and the table it
    // reads stay as they are, never used again.
    static_cast<void>(table_.release());
  }
}

bool PluginManage::read_state(Plugin_State& state) {
  state = Plugin_State{};
  return loaded_ && table_->get_state != nullptr && table_->get_state(&state) != 0;
}

void PluginManage::remove_item(int32_t item_id) {
  if (item_id != -1 && loaded_ && table_->remove != nullptr) table_->remove(item_id);
}

void PluginManage::query_item(int32_t item_id) {
  if (loaded_) on_plugin_event(item_id, 7);
}

void PluginManage::list_items() {
  if (loaded_) on_plugin_event(0, 6);
}

void PluginManage::close_if_idle() {
  bool busy = false;
  if (table_ != nullptr) {
    Plugin_State state;
    busy = read_state(state) && state.active_count >= 1;
  }
  if (!shown_ || !busy) {
    if (InterfaceDrovanPlugin_CallBack* host = host_window_callback()) host->close_host();
  }
}

void PluginManage::call_slot_39() {
  const Calls_In_Flight::Call call(worker_calls_);
  if (call.admitted() && table_ != nullptr && table_->method_8 != nullptr) table_->method_8();
}

}  // namespace Core_Drovan
