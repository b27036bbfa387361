#include "system/dialog_window.h"

namespace Core_Common {

namespace {

// Messages whose answer a dialog procedure returns itself; every other
// answer travels in DWLP_MSGRESULT.
bool answers_directly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

Dialog_Window::~Dialog_Window() {
  // The derived part is gone: the window's last messages must not reach it.
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, DWLP_USER, 0);
    ::DestroyWindow(window_);
  }
}

bool Dialog_Window::create_modeless(int resource_id, HWND parent) {
  if (window_ != nullptr) return true;
  ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource_id), parent,
                       dialog_procedure, reinterpret_cast<LPARAM>(this));
  return window_ != nullptr;
}

INT_PTR Dialog_Window::run_modal(int resource_id, HWND parent) {
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource_id), parent,
                           dialog_procedure, reinterpret_cast<LPARAM>(this));
}

void Dialog_Window::end_modal(INT_PTR result) {
  if (window_ != nullptr) ::EndDialog(window_, result);
}

void Dialog_Window::destroy() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

INT_PTR CALLBACK Dialog_Window::dialog_procedure(HWND window, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  Dialog_Window* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog_Window*>(lparam);
    ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
    return self->on_init_dialog();
  }
  self = reinterpret_cast<Dialog_Window*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;  // messages before WM_INITDIALOG

  LRESULT result = 0;
  const bool handled = self->on_message(message, wparam, lparam, result);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    self->window_ = nullptr;
    self->on_destroyed();
  }
  if (!handled) return FALSE;
  if (answers_directly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace Core_Common
