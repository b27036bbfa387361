#include "reporter/xcolor_static.h"

namespace GUI_Common {

CXColorStatic::~CXColorStatic() {
  if (control_ != nullptr && ::IsWindow(control_)) {
    ::SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    ::SetWindowLongPtrW(control_, GWLP_USERDATA, 0);
  }
  if (background_ != nullptr) ::DeleteObject(background_);
  if (font_ != nullptr) ::DeleteObject(font_);
}

void CXColorStatic::attach(HWND control) {
  control_ = control;
  if (control_ == nullptr) return;
  background_ = ::CreateSolidBrush(background_colour_);
  // A copy of the dialog's font, owned here.
  LOGFONTW face{};
  const HFONT dialog_font = reinterpret_cast<HFONT>(::SendMessageW(control_, WM_GETFONT, 0, 0));
  if (dialog_font != nullptr && ::GetObjectW(dialog_font, sizeof face, &face) != 0) font_ = ::CreateFontIndirectW(&face);
  ::SetWindowLongPtrW(control_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  original_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CXColorStatic::procedure)));
}

void CXColorStatic::set_background_white() {
  background_colour_ = RGB(255, 255, 255);
  if (background_ != nullptr) ::DeleteObject(background_);
  background_ = ::CreateSolidBrush(background_colour_);
  redraw();
}

void CXColorStatic::set_text_colour(COLORREF colour) {
  text_colour_ = colour;
  redraw();
}

void CXColorStatic::set_bold() {
  LOGFONTW face{};
  if (font_ == nullptr || ::GetObjectW(font_, sizeof face, &face) == 0) return;
  face.lfWeight = FW_BOLD;
  ::DeleteObject(font_);
  font_ = ::CreateFontIndirectW(&face);
  redraw();
}

void CXColorStatic::set_icon(HICON icon) {
  icon_ = icon;
  redraw();
}

void CXColorStatic::redraw() const {
  if (control_ != nullptr) ::InvalidateRect(control_, nullptr, TRUE);
}

void CXColorStatic::paint() {
  PAINTSTRUCT ps;
  const HDC dc = ::BeginPaint(control_, &ps);
  const int saved = ::SaveDC(dc);
  RECT client;
  ::GetClientRect(control_, &client);
  ::SetTextColor(dc, text_colour_);
  ::SetBkColor(dc, background_colour_);
  ::SetBkMode(dc, OPAQUE);
  ::FillRect(dc, &client, background_);
  if (icon_ != nullptr) {
    const int width = ::GetSystemMetrics(SM_CXICON);
    const int height = ::GetSystemMetrics(SM_CYICON);
    ::DrawIconEx(dc, (client.right - width) / 2, (client.bottom - height) / 2, icon_, width, height, 0, nullptr,
                 DI_NORMAL);
  } else {
    draw_text(dc, client);
  }
  ::RestoreDC(dc, saved);
  ::EndPaint(control_, &ps);
}

void CXColorStatic::draw_text(HDC dc, RECT area) const {
  if (font_ != nullptr) ::SelectObject(dc, font_);
  wchar_t text[1024] = {};
  ::GetWindowTextW(control_, text, 1024);
  area.left += x_offset_;
  area.top += y_offset_;
  const LONG style = ::GetWindowLongW(control_, GWL_STYLE);
  UINT format = (style & SS_CENTER) == SS_CENTER ? DT_CENTER : (style & SS_RIGHT) == SS_RIGHT ? DT_RIGHT : DT_LEFT;
  format |= (style & SS_CENTERIMAGE) ? DT_SINGLELINE | DT_VCENTER : DT_WORDBREAK;
  ::DrawTextW(dc, text, -1, &area, format);
}

LRESULT CALLBACK CXColorStatic::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<CXColorStatic*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_PAINT:
      self->paint();
      return 0;
    case WM_ERASEBKGND: {
      RECT client;
      ::GetClientRect(window, &client);
      ::FillRect(reinterpret_cast<HDC>(wparam), &client, self->background_);
      return TRUE;
    }
    case WM_SETTEXT: {
      const LRESULT result = ::CallWindowProcW(self->original_, window, message, wparam, lparam);
      self->redraw();
      return result;
    }
  }
  return ::CallWindowProcW(self->original_, window, message, wparam, lparam);
}

}  // namespace GUI_Common
