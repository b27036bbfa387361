// PluginManage: the two link requests that wait for the plug-in to become
// ready, and the retry timer that tries them again every 100 ms. Main
// thread only.
#include <string>

#include "bridge/client_calls.h"
#include "bridge/plugin_manage.h"

namespace Core_Drovan {

using namespace InterfaceDrovan;

namespace {

constexpr uint32_t kRetryDelayMs = 100;
constexpr int32_t kMaxOpenRetries = 100;
constexpr uint32_t kNotifyNewItem = 5;

std::wstring from_system_code_page(const std::string& text) {
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  return wide;
}

}  // namespace

void PluginManage::wait_and_retry(std::function<void()> request) {
  retry_list_.push_back(std::move(request));
  // Re-arming an armed timer moves its deadline: a burst of retries is
  // served 100 ms after the last one.
  Core_Common::set_timer(retry_timer_, kRetryDelayMs, false, "PluginManage::delay_task_open_timer_func",
                         [this] { delay_task_open_timer_func(); });
}

void PluginManage::delay_task_open_timer_func() {
  // A request still not ready appends itself to the new list.
  std::vector<std::function<void()>> waiting;
  waiting.swap(retry_list_);
  for (const auto& request : waiting) request();
}

void PluginManage::add_by_link(const std::string& link, int32_t cookie) {
  if (!loaded_ || link.empty()) return;
  Plugin_State state;
  if (!read_state(state)) return;
  if (state.ready_to_add == 0) {
    wait_and_retry([this, link, cookie] { add_by_link(link, cookie); });
    return;
  }
  if (table_->add_link == nullptr) return;
  const std::wstring wide = from_system_code_page(link);
  const Link_Record record{wide.c_str()};
  Add_Result result{};
  if (table_->add_link(&record, &result) != 0 && has_client_address()) {
    notify_client(kNotifyNewItem, {Core_IPC::argument_u32(static_cast<uint32_t>(result.item_id)),
                                   Core_IPC::argument_u32(static_cast<uint32_t>(cookie))});
  }
}

// Each request counts its own retries: one that waited long and was
// dropped leaves the next its full hundred.
void PluginManage::open_link_with_value(const std::wstring& link, uint64_t value, int32_t retries) {
  if (!loaded_) return;
  Plugin_State state;
  if (!read_state(state)) return;
  if (state.ready_to_open == 0) {
    if (state.connected == 0 && table_->not_connected != nullptr) table_->not_connected();
    if (retries >= kMaxOpenRetries) return;  // dropped
    wait_and_retry([this, link, value, retries] { open_link_with_value(link, value, retries + 1); });
    return;
  }
  if (table_->open_link_with_value != nullptr) table_->open_link_with_value(link.c_str(), value);
}

}  // namespace Core_Drovan
