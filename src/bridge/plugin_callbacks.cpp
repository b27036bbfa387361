#include "bridge/plugin_callbacks.h"

#include <cstring>
#include <string>

#include "bridge/client_calls.h"
#include "ipc/channel_names.h"

namespace Core_Drovan {

namespace {

using Core_IPC::Argument_List;

// Methods of the client's callback interface that answer.
constexpr uint32_t kAskValues = 0;
constexpr uint32_t kAskText = 1;
constexpr uint32_t kReadData = 2;

// A text longer than one channel message could not be sent whole.
constexpr size_t kMaxTextBytes = Core_IPC::kMappingSize;

// The first `size` bytes of a result into `out`, as far as it has them.
void copy_front(const Core_IPC::Argument& result, void* out, size_t size) {
  std::memcpy(out, result.data(), result.size() < size ? result.size() : size);
}

// The plug-in's threads inside a callback, which the library may not leave
// while any is.
Calls_In_Flight g_callbacks_in_flight;

int32_t WINAPI call_client_0(int32_t item_id, const char* text, uint64_t* out_value,
                             int32_t* out_number) {
  const Calls_In_Flight::Call call(g_callbacks_in_flight);
  if (out_value == nullptr || out_number == nullptr) return 0;
  *out_value = 0;
  *out_number = 0;
  if (text == nullptr || !call.admitted()) return 0;
  if (*text != '\0') {
    Argument_List results;
    if (ask_client(kAskValues, {Core_IPC::argument_u32(static_cast<uint32_t>(item_id)),
                                Core_IPC::argument_text(text, strnlen(text, kMaxTextBytes))},
                   results) &&
        results.size() == 2) {
      copy_front(results[0], out_value, sizeof *out_value);
      copy_front(results[1], out_number, sizeof *out_number);
    }
  }
  return 1;
}

// The text of the calling thread's last answer, valid until that thread
// asks again: two of the plug-in's threads asking at once each keep their
// own.
std::string& client_text_buffer() {
  thread_local std::string buffer;
  return buffer;
}

int32_t WINAPI call_client_1(int32_t item_id, const char** out_text, int32_t* out_length,
                             int32_t* out_first, int32_t* out_second) {
  const Calls_In_Flight::Call call(g_callbacks_in_flight);
  // Every output is optional: a missing one is not written.
  if (out_text != nullptr) *out_text = nullptr;
  if (out_length != nullptr) *out_length = 0;
  if (out_first != nullptr) *out_first = 0;
  if (out_second != nullptr) *out_second = 0;
  if (!call.admitted()) return 0;
  Argument_List results;
  if (!ask_client(kAskText, {Core_IPC::argument_u32(static_cast<uint32_t>(item_id))}, results) ||
      results.size() != 3) {
    return 0;
  }
  std::string& buffer = client_text_buffer();
  buffer.assign(results[0].begin(), results[0].end());
  if (out_first != nullptr) copy_front(results[1], out_first, sizeof *out_first);
  if (out_second != nullptr) copy_front(results[2], out_second, sizeof *out_second);
  if (out_text != nullptr) *out_text = buffer.c_str();
  if (out_length != nullptr) *out_length = static_cast<int32_t>(buffer.size());
  return 1;
}

int32_t WINAPI read_client_data(int32_t item_id, void* buffer, uint64_t offset, uint32_t size) {
  const Calls_In_Flight::Call call(g_callbacks_in_flight);
  if (buffer == nullptr || size == 0 || size > kMaxClientRead) return 0;
  std::memset(buffer, 0, size);
  if (!call.admitted()) return 0;
  Argument_List results;
  if (!ask_client(kReadData, {Core_IPC::argument_u32(static_cast<uint32_t>(item_id)),
                              Core_IPC::argument_u64(offset), Core_IPC::argument_u32(size)},
                  results) ||
      results.size() != 1 || results[0].size() != size) {
    return 0;
  }
  std::memcpy(buffer, results[0].data(), size);
  return 1;
}

}  // namespace

Plugin_Callbacks host_plugin_callbacks() {
  return Plugin_Callbacks{call_client_0, call_client_1, read_client_data, &g_callbacks_in_flight};
}

}  // namespace Core_Drovan
