// PluginManage: the plug-in's events. Each pulls the event's data out of
// the plug-in through its slots and sends it to the main client as a
// notification whose outcome the host ignores. Main thread only.
#include <algorithm>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <vector>

#include "bridge/client_calls.h"
#include "bridge/client_list.h"
#include "bridge/host_callbacks.h"
#include "bridge/plugin_manage.h"
#include "ipc/channel_names.h"

namespace Core_Drovan {

using namespace InterfaceDrovan;
using Core_IPC::argument_u32;
using Core_IPC::argument_u64;

namespace {

// Methods of the client's callback interface that only take notice.
constexpr uint32_t kNotifyChunk = 3;
constexpr uint32_t kNotifyValues = 4;
constexpr uint32_t kNotifyBlock = 6;
constexpr uint32_t kNotifyList = 7;
constexpr uint32_t kNotifyDetails = 8;
constexpr uint32_t kNotifyLastChunk = 9;

Core_IPC::Argument argument_i32(int32_t value) { return argument_u32(static_cast<uint32_t>(value)); }

// The most a notification can carry: one channel message. Anything the
// plug-in reports beyond it could never be sent, so its event is dropped
// rather than read.
constexpr size_t kMaxPayload = Core_IPC::kMappingSize;

// A chunk larger than what one notification carries beside its headers is
// sent in pieces of this size, each with its own position. A chunk beyond
// kMaxChunk is taken for a broken plug-in and ends the drain.
constexpr size_t kMaxPiece = kMaxPayload - 64 * 1024;
constexpr size_t kMaxChunk = 100 * 1024 * 1024;

// A buffer the plug-in asked for; empty when the size is beyond `limit` or
// cannot be had, so a plug-in that reports an absurd size loses its event,
// not the host.
std::vector<uint8_t> make_buffer(uint32_t size, size_t limit = kMaxPayload) {
  if (size > limit) return {};
  try {
    return std::vector<uint8_t>(size);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return {};
}

std::u16string wide_text(const wchar_t* text, size_t max_units = kMaxPayload / 2) {
  std::u16string out;
  if (text == nullptr) return out;
  for (size_t i = 0; i < max_units && text[i] != L'\0'; ++i) out.push_back(static_cast<char16_t>(text[i]));
  return out;
}

}  // namespace

void PluginManage::on_plugin_event(int32_t item_id, uint32_t code) {
  switch (code) {
    case 0:
      send_chunk(item_id, false);
      break;
    case 1:
      send_block(item_id);
      break;
    case 2:
      send_values(item_id, false);
      break;
    case 3:
      send_values(item_id, true);
      break;
    case 4:
      if (loaded_ && table_->event_value != nullptr) {
        uint32_t zero = 0;
        table_->event_value(4, &zero);
      }
      break;
    case 5:
      if (InterfaceDrovanPlugin_CallBack* host = host_window_callback()) host->close_host();
      break;
    case 6:
      send_list();
      break;
    case 7:
      send_details(item_id);
      break;
    case 8:
      send_chunk(item_id, true);
      break;
    default:
      break;
  }
}

// One chunk per task: after each, the event posts itself again, so other
// tasks run between chunks and a tick's time slice bounds the work.
void PluginManage::send_chunk(int32_t item_id, bool last_chunks) {
  if (item_id == -1 || !loaded_) return;
  const auto info = last_chunks ? table_->last_chunk_info : table_->chunk_info;
  const auto read = last_chunks ? table_->last_chunk_read : table_->chunk_read;
  if (info == nullptr || read == nullptr) return;
  uint64_t position = 0;
  uint32_t size = 0;
  if (info(item_id, &position, &size) != 1 || size == 0) return;
  std::vector<uint8_t> buffer = make_buffer(size, kMaxChunk);
  if (buffer.empty() || read(item_id, buffer.data(), position, size) != 1) return;
  const uint32_t method = last_chunks ? kNotifyLastChunk : kNotifyChunk;
  if (buffer.size() <= kMaxPiece) {
    notify_client(method, {argument_i32(item_id), std::move(buffer), argument_u64(position)});
  } else {
    send_chunk_pieces(item_id, method, buffer, position);
  }
  const uint32_t code = last_chunks ? 8 : 0;
  tasks_.post_task(task_owner(), [this, item_id, code] { on_plugin_event(item_id, code); });
}

// A chunk too large for one notification, sent as consecutive pieces so
// that neither it nor the item's later chunks are lost. The first piece
// that cannot be sent ends the chunk: each could wait for a client that
// no longer answers.
void PluginManage::send_chunk_pieces(int32_t item_id, uint32_t method, const std::vector<uint8_t>& chunk,
                                     uint64_t position) {
  for (size_t at = 0; at < chunk.size(); at += kMaxPiece) {
    const size_t length = std::min(kMaxPiece, chunk.size() - at);
    std::vector<uint8_t> piece = make_buffer(static_cast<uint32_t>(length));
    if (piece.empty()) return;
    std::copy(chunk.begin() + at, chunk.begin() + at + length, piece.begin());
    if (!notify_client(method, {argument_i32(item_id), std::move(piece), argument_u64(position + at)})) return;
  }
}

void PluginManage::send_block(int32_t item_id) {
  if (!loaded_ || table_->read_block == nullptr) return;
  uint32_t size = 0;
  if (table_->read_block(item_id, nullptr, 0, &size) != 1 || size == 0) return;
  std::vector<uint8_t> buffer = make_buffer(size);
  if (buffer.empty()) return;
  uint32_t filled = 0;
  if (table_->read_block(item_id, buffer.data(), size, &filled) != 1) return;
  notify_client(kNotifyBlock, {argument_i32(item_id), std::move(buffer)});
}

// Code 2 sends zeros; code 3 asks the plug-in for the two values first.
void PluginManage::send_values(int32_t item_id, bool read_values) {
  uint64_t value = 0;
  uint32_t number = 0;
  if (read_values) {
    if (item_id == -1 || !loaded_) return;
    if (table_->item_values != nullptr) table_->item_values(item_id, &value, &number);
  }
  notify_client(kNotifyValues, {argument_i32(item_id), argument_i32(1), argument_u64(value),
                                argument_u32(number)});
}

void PluginManage::send_list() {
  if (!loaded_ || table_->list_header == nullptr || table_->list_item == nullptr) return;
  List_Header header{};
  if (table_->list_header(&header) == 0) return;
  Client_List list;
  list.first = header.first;
  list.third = header.third;
  list.fourth = header.fourth;
  // What one channel message can carry; a longer list could not be sent,
  // so its reading stops there.
  size_t serialised = 16;
  for (uint32_t index = 0; index < header.count; ++index) {
    List_Item item{};
    if (table_->list_item(index, &item) == 0) return;  // no list at all
    Client_List_Item entry;
    entry.name = wide_text(item.name);
    entry.value = item.value;
    entry.first = item.first;
    entry.second = item.second;
    // One character more than a hash has tells a longer text apart.
    entry.hash = hash_from_hex(wide_text(item.hash_hex, 33));
    serialised += 4 + entry.name.size() * 2 + 8 + 4 + 4 + 16;
    if (serialised > kMaxPayload) return;
    list.items.push_back(std::move(entry));
  }
  notify_client(kNotifyList, {serialise_client_list(list)});
}

void PluginManage::send_details(int32_t item_id) {
  if (item_id == -1 || !loaded_ || table_->item_details == nullptr) return;
  Item_Details details{};
  if (table_->item_details(item_id, &details) != 1) return;
  if (details.data_length > kMaxPayload) return;
  Core_IPC::Argument data;
  if (details.data_length != 0 && details.data != nullptr) {
    data.assign(details.data, details.data + details.data_length);
  }
  notify_client(kNotifyDetails, {argument_i32(item_id), argument_i32(details.a), argument_i32(details.b),
                                 argument_u64(details.c), argument_u64(details.d), std::move(data)});
}

}  // namespace Core_Drovan
