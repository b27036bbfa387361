// The host's one plug-in library: finding and loading it, the release
// check, the handshake, the calls the rest of the host makes into it, the
// plug-in's events and the requests that wait for it to become ready.
// Everything here runs on the main thread; other threads reach it only
// through tasks posted under task_owner(). The one exception is slot 39,
// which a worker thread calls through call_slot_39(), counted so that
// unload() can wait for it.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/calls_in_flight.h"
#include "bridge/plugin_contract.h"
#include "bridge/plugin_message_sink.h"
#include "runtime/task_queue.h"
#include "runtime/timer_queue.h"

namespace Core_Drovan {

// What the host hands the library in slot 25, and the count of the
// plug-in's threads inside them (none: nothing to wait for).
struct Plugin_Callbacks {
  InterfaceDrovan::Call_Client_0_Fn call_client_0 = nullptr;
  InterfaceDrovan::Call_Client_1_Fn call_client_1 = nullptr;
  InterfaceDrovan::Read_Client_Data_Fn read_client_data = nullptr;
  Calls_In_Flight* in_flight = nullptr;
};

class PluginManage {
 public:
  // `host_file` is the file whose "FileVersion" the library's must equal:
  // the host's executable unless a caller names another.
  PluginManage(Core_Common::Task_Queue& tasks, Plugin_Callbacks callbacks,
               std::wstring host_file = host_executable_path());
  // Destroys the sink window, drops the waiting requests, kills the retry
  // timer and cancels every task posted under the owner key. It does not
  // unload: the host window's destroy handler has.
  ~PluginManage();

  PluginManage(const PluginManage&) = delete;
  PluginManage& operator=(const PluginManage&) = delete;

  // The host executable, its long form, and the library beside it.
  static std::wstring host_executable_path();
  static std::wstring library_path();

  // Loads the library once; true again without touching it once loaded.
  // Any failing step frees what it got and leaves the plug-in not loaded.
  bool load(const std::wstring& path);
  void set_connection(const InterfaceDrovan::connection_setting_t& settings);
  // Slot 2; a zero result unloads at once. False then.
  bool start();
  // Slot 3 alone, as the host window's destroy handler calls it before
  // unload. Worker threads no longer call into the library from here on.
  void stop();
  void show(bool shown);
  // The show request as a task: the main thread shows or hides the
  // plug-in's user interface at its next tick.
  void post_show(bool shown);
  // Slot 15; the 16 bytes of a successful open into `result`.
  bool open_link(const std::wstring& link, std::array<uint8_t, 16>& result);
  // Slot 3, slot 1, then the library and its table go. Waits, bounded, for
  // a slot-39 call and the callbacks under way on other threads; a library
  // that a thread is still inside at the bound stays mapped, unused.
  void unload();

  // The served interface's requests, run as tasks on the main thread.
  void remove_item(int32_t item_id);
  void query_item(int32_t item_id);
  void list_items();
  // Closes the host unless the plug-in's user interface is shown and it has
  // active items.
  void close_if_idle();
  // Slot 39, on the calling (worker) thread; never on a library that is
  // being or has been unloaded.
  void call_slot_39();

  // Requests that wait, retried every 100 ms, while the plug-in is not
  // ready for them. The link of add_by_link is in the system code page. An
  // open-link request is dropped after its own 100 retries.
  void add_by_link(const std::string& link, int32_t cookie);
  void open_link_with_value(const std::wstring& link, uint64_t value) { open_link_with_value(link, value, 0); }
  // The retry timer: runs every waiting request once, in order.
  void delay_task_open_timer_func();
  size_t waiting_requests() const { return retry_list_.size(); }

  // An event the plug-in posted to the sink window (codes 0-8).
  void on_plugin_event(int32_t item_id, uint32_t code);

  bool loaded() const { return loaded_; }
  // A worker that did not come back from slot 39 within the bound: it may
  // still touch this object and the service stub that called it.
  bool worker_still_inside() const { return !workers_withdrawn_; }
  bool shown() const { return shown_; }
  const void* task_owner() const { return this; }
  HWND sink_window() const { return sink_.handle(); }

 private:
  bool release_matches(const std::wstring& library) const;
  void free_library();
  // Slot 10; false when the plug-in is not loaded or the slot fails.
  bool read_state(InterfaceDrovan::Plugin_State& state);
  // Lets no slot-39 call start and waits, bounded, for one in progress.
  void withdraw_from_workers();
  void wait_and_retry(std::function<void()> request);
  void open_link_with_value(const std::wstring& link, uint64_t value, int32_t retries);

  // Event codes, one per member.
  void send_chunk(int32_t item_id, bool last_chunks);
  void send_chunk_pieces(int32_t item_id, uint32_t method, const std::vector<uint8_t>& chunk, uint64_t position);
  void send_block(int32_t item_id);
  void send_values(int32_t item_id, bool read_values);
  void send_list();
  void send_details(int32_t item_id);

  Core_Common::Task_Queue& tasks_;
  Plugin_Callbacks callbacks_;
  std::wstring host_file_;
  bool loaded_ = false;
  bool shown_ = false;
  std::unique_ptr<InterfaceDrovan::Plugin_Function_Table> table_;
  CDialogPluginMessageSink sink_;
  std::vector<std::function<void()>> retry_list_;
  Core_Common::timer_t* retry_timer_ = nullptr;
  // Worker threads call slot 39 only while allowed; withdrawing forbids new
  // calls and then waits for the ones in flight.
  Calls_In_Flight worker_calls_;
  bool workers_waited_for_ = true;
  bool workers_withdrawn_ = true;  // false: a worker may still be inside
};

}  // namespace Core_Drovan
