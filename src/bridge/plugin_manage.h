// The host's one plug-in library: finding and loading it, the release
// check, the handshake, and the calls the rest of the host makes into it.
// Everything here runs on the main thread; other threads reach it only
// through tasks posted under task_owner(), so it takes no lock.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "bridge/plugin_contract.h"
#include "bridge/plugin_message_sink.h"
#include "runtime/task_queue.h"

namespace Core_Drovan {

// What the host hands the library in slot 25.
struct Plugin_Callbacks {
  InterfaceDrovan::Call_Client_0_Fn call_client_0 = nullptr;
  InterfaceDrovan::Call_Client_1_Fn call_client_1 = nullptr;
  InterfaceDrovan::Read_Client_Data_Fn read_client_data = nullptr;
};

class PluginManage {
 public:
  // `host_file` is the file whose "FileVersion" the library's must equal:
  // the host's executable unless a caller names another.
  PluginManage(Core_Common::Task_Queue& tasks, Plugin_Callbacks callbacks,
               std::wstring host_file = host_executable_path());
  // Destroys the sink window and cancels every task posted under the owner
  // key. It does not unload: the host window's destroy handler has.
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
  // unload.
  void stop();
  void show(bool shown);
  // The show request as a task: the main thread shows or hides the
  // plug-in's user interface at its next tick.
  void post_show(bool shown);
  // Slot 15; the 16 bytes of a successful open into `result`.
  bool open_link(const std::wstring& link, std::array<uint8_t, 16>& result);
  // Slot 3, slot 1, then the library and its table go.
  void unload();

  bool loaded() const { return loaded_; }
  bool shown() const { return shown_; }
  const void* task_owner() const { return this; }
  HWND sink_window() const { return sink_.handle(); }

 private:
  bool release_matches(const std::wstring& library) const;
  void free_library();

  Core_Common::Task_Queue& tasks_;
  Plugin_Callbacks callbacks_;
  std::wstring host_file_;
  bool loaded_ = false;
  bool shown_ = false;
  std::unique_ptr<InterfaceDrovan::Plugin_Function_Table> table_;
  CDialogPluginMessageSink sink_;
};

}  // namespace Core_Drovan
