// The plug-in's event window: an invisible top-level window the library
// posts its events to (message 0x521). Created after a successful load and
// kept until PluginManage goes.
#pragma once

#include <windows.h>

namespace Core_Drovan {

class CDialogPluginMessageSink {
 public:
  static constexpr wchar_t kWindowName[] = L"{C7BD0F78-136E-4b06-9D9D-30E5DC357C72}_PluginMsgSink";

  CDialogPluginMessageSink() = default;
  ~CDialogPluginMessageSink() { destroy(); }
  CDialogPluginMessageSink(const CDialogPluginMessageSink&) = delete;
  CDialogPluginMessageSink& operator=(const CDialogPluginMessageSink&) = delete;

  // Creates the window once; null when it cannot be had.
  HWND create();
  void destroy();
  HWND handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

}  // namespace Core_Drovan
