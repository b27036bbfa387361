// The plug-in's event window: an invisible top-level window of the system
// class "Static" the library posts its events to (message 0x521: the item
// id in wParam, the code in lParam). Events are handled on the window's
// thread, the main thread. Created after a successful load and kept until
// PluginManage goes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace Core_Drovan {

class CDialogPluginMessageSink {
 public:
  static constexpr wchar_t kWindowName[] = L"{C7BD0F78-136E-4b06-9D9D-30E5DC357C72}_PluginMsgSink";

  CDialogPluginMessageSink() = default;
  ~CDialogPluginMessageSink() { destroy(); }
  CDialogPluginMessageSink(const CDialogPluginMessageSink&) = delete;
  CDialogPluginMessageSink& operator=(const CDialogPluginMessageSink&) = delete;

  using Event_Handler = std::function<void(int32_t item_id, uint32_t code)>;

  // Creates the window once; null when it cannot be had.
  HWND create(Event_Handler on_event);
  void destroy();
  HWND handle() const { return window_; }

 private:
  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND window_ = nullptr;
  WNDPROC static_procedure_ = nullptr;  // the class's own, for every other message
  Event_Handler on_event_;
};

}  // namespace Core_Drovan
