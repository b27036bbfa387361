#include "bridge/plugin_message_sink.h"

#include "bridge/plugin_contract.h"

namespace Core_Drovan {

HWND CDialogPluginMessageSink::create(Event_Handler on_event) {
  if (window_ != nullptr) return window_;
  window_ = ::CreateWindowExW(0, L"Static", kWindowName, 0, 0, 0, 0, 0, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return nullptr;
  on_event_ = std::move(on_event);
  // The window keeps its system class; only message 0x521 is taken here.
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  static_procedure_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDialogPluginMessageSink::window_procedure)));
  return window_;
}

void CDialogPluginMessageSink::destroy() {
  if (window_ == nullptr) return;
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(static_procedure_));
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
  window_ = nullptr;
}

LRESULT CALLBACK CDialogPluginMessageSink::window_procedure(HWND window, UINT message, WPARAM wparam,
                                                            LPARAM lparam) {
  auto* self = reinterpret_cast<CDialogPluginMessageSink*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  if (message == InterfaceDrovan::kPluginEventMessage) {
    if (self->on_event_) {
      self->on_event_(static_cast<int32_t>(static_cast<uint32_t>(wparam)),
                      static_cast<uint32_t>(lparam));
    }
    return 0;
  }
  return ::CallWindowProcW(self->static_procedure_, window, message, wparam, lparam);
}

}  // namespace Core_Drovan
