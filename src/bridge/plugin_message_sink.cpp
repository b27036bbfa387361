#include "bridge/plugin_message_sink.h"

namespace Core_Drovan {

HWND CDialogPluginMessageSink::create() {
  if (window_ == nullptr) {
    window_ = ::CreateWindowExW(0, L"Static", kWindowName, 0, 0, 0, 0, 0, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  }
  return window_;
}

void CDialogPluginMessageSink::destroy() {
  if (window_ != nullptr) ::DestroyWindow(window_);
  window_ = nullptr;
}

}  // namespace Core_Drovan
