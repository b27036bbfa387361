// CXColorStatic: a static control of a dialog that draws its text (or an
// icon) in its own colours, optionally bold, over its own background.
#pragma once

#include <windows.h>

namespace GUI_Common {

class CXColorStatic {
 public:
  CXColorStatic() = default;
  ~CXColorStatic();
  CXColorStatic(const CXColorStatic&) = delete;
  CXColorStatic& operator=(const CXColorStatic&) = delete;

  // Takes over the dialog's static control.
  void attach(HWND control);
  void set_background_white();
  void set_text_colour(COLORREF colour);
  // The control's font with weight 700; face and size stay.
  void set_bold();
  // Draws `icon` (not owned) centred instead of the text; null: the text.
  void set_icon(HICON icon);

  HWND handle() const { return control_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void paint();
  void draw_text(HDC dc, RECT area) const;
  void redraw() const;

  HWND control_ = nullptr;
  WNDPROC original_ = nullptr;
  COLORREF text_colour_ = ::GetSysColor(COLOR_BTNTEXT);
  COLORREF background_colour_ = ::GetSysColor(COLOR_BTNFACE);
  HBRUSH background_ = nullptr;  // owned
  HFONT font_ = nullptr;         // owned
  HICON icon_ = nullptr;
  int x_offset_ = 0;
  int y_offset_ = 0;
};

}  // namespace GUI_Common
