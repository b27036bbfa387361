// A dialog built from a resource template, with its messages handed to a
// virtual member. The thin layer the programs' windows are made of.
#pragma once

#include <windows.h>

namespace Core_Common {

class Dialog_Window {
 public:
  Dialog_Window() = default;
  // Destroys a window that still exists without handing it its last
  // messages; a derived class that wants them destroys the window itself.
  virtual ~Dialog_Window();

  Dialog_Window(const Dialog_Window&) = delete;
  Dialog_Window& operator=(const Dialog_Window&) = delete;

  // A modeless dialog; on_init_dialog runs inside. False when the window
  // could not be made.
  bool create_modeless(int resource_id, HWND parent);
  // A modal dialog: returns what end_modal was given, or -1.
  INT_PTR run_modal(int resource_id, HWND parent);
  void end_modal(INT_PTR result);
  void destroy();

  HWND handle() const { return window_; }

 protected:
  // Returns the focus choice of WM_INITDIALOG (TRUE: the system's).
  virtual BOOL on_init_dialog() { return TRUE; }
  // Returns true when the message was handled, with its answer in `result`;
  // false leaves it to the dialog manager.
  virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) = 0;
  // The window is gone; handle() is null from here on.
  virtual void on_destroyed() {}

 private:
  static INT_PTR CALLBACK dialog_procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam);

  HWND window_ = nullptr;
};

}  // namespace Core_Common
