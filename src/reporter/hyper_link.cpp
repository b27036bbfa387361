#include "reporter/hyper_link.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwctype>

namespace GUI_Common {

namespace {

constexpr UINT_PTR kHoverTimer = 100;
constexpr UINT kHoverPeriodMs = 100;

const wchar_t* open_error_text(INT_PTR code) {
  switch (code) {
    case 0: return L"The operating system is out\nof memory or resources.";
    case ERROR_FILE_NOT_FOUND: return L"The specified file was not found.";
    case ERROR_PATH_NOT_FOUND: return L"The specified path was not found.";
    case ERROR_ACCESS_DENIED: return L"The operating system denied\naccess to the specified file.";
    case 8: return L"There was not enough memory to complete the operation.";
    case ERROR_BAD_FORMAT: return L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case SE_ERR_SHARE: return L"A sharing violation occurred. ";
    case SE_ERR_ASSOCINCOMPLETE: return L"The filename association is\nincomplete or invalid.";
    case SE_ERR_DDETIMEOUT: return L"The DDE transaction could not\nbe completed because the request timed out.";
    case SE_ERR_DDEFAIL: return L"The DDE transaction failed.";
    case SE_ERR_DDEBUSY:
      return L"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case SE_ERR_NOASSOC: return L"There is no application associated\nwith the given filename extension.";
    case SE_ERR_DLLNOTFOUND: return L"The specified dynamic-link library was not found.";
    default: return nullptr;
  }
}

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The system's hand cursor, or the one help viewer of old systems carries.
HCURSOR hand_cursor() {
  static const HCURSOR cursor = [] {
    HCURSOR hand = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32649));  // IDC_HAND
    if (hand != nullptr) return hand;
    wchar_t path[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 16) return static_cast<HCURSOR>(nullptr);
    lstrcatW(path, L"\\winhlp32.exe");
    if (const HMODULE help = ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
      if (const HCURSOR found = ::LoadCursorW(help, MAKEINTRESOURCEW(106))) {
        hand = static_cast<HCURSOR>(::CopyImage(found, IMAGE_CURSOR, 0, 0, 0));
      }
      ::FreeLibrary(help);
    }
    return hand;
  }();
  return cursor;
}

}  // namespace

CHyperLink::~CHyperLink() {
  if (control_ != nullptr && ::IsWindow(control_)) {
    ::KillTimer(control_, kHoverTimer);
    ::SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    ::SetWindowLongPtrW(control_, GWLP_USERDATA, 0);
  }
  if (normal_font_ != nullptr) ::DeleteObject(normal_font_);
  if (underlined_font_ != nullptr) ::DeleteObject(underlined_font_);
}

std::wstring CHyperLink::address_to_open(const std::wstring& url) {
  const std::wstring head = lower(url.substr(0, 8));
  if (head.compare(0, 7, L"http://") == 0 || head.compare(0, 8, L"https://") == 0) return url;
  return L"http://" + url;
}

void CHyperLink::attach(HWND control) {
  control_ = control;
  if (control_ == nullptr) return;
  ::SetWindowLongW(control_, GWL_STYLE, ::GetWindowLongW(control_, GWL_STYLE) | SS_NOTIFY);
  wchar_t text[1024] = {};
  ::GetWindowTextW(control_, text, 1024);
  if (url_.empty()) url_ = text;
  if (text[0] == L'\0') ::SetWindowTextW(control_, url_.c_str());

  HFONT base = reinterpret_cast<HFONT>(::SendMessageW(control_, WM_GETFONT, 0, 0));
  if (base == nullptr) base = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  if (base == nullptr) base = static_cast<HFONT>(::GetStockObject(ANSI_VAR_FONT));
  LOGFONTW face{};
  ::GetObjectW(base, sizeof face, &face);
  normal_font_ = ::CreateFontIndirectW(&face);
  face.lfUnderline = TRUE;
  underlined_font_ = ::CreateFontIndirectW(&face);
  ::SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(normal_font_), FALSE);
  fit_to_text();

  ::SetWindowLongPtrW(control_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  original_ = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CHyperLink::procedure)));

  tooltip_ = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, ::GetParent(control_), nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  if (tooltip_ != nullptr) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = control_;
    tool.uId = 1;
    ::GetClientRect(control_, &tool.rect);
    tool.lpszText = const_cast<wchar_t*>(url_.c_str());
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void CHyperLink::set_url(const std::wstring& url) {
  url_ = url;
  if (control_ == nullptr) return;
  fit_to_text();
  update_tooltip();
}

void CHyperLink::update_tooltip() {
  if (tooltip_ == nullptr) return;
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = control_;
  tool.uId = 1;
  tool.lpszText = const_cast<wchar_t*>(url_.c_str());
  ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CHyperLink::fit_to_text() {
  wchar_t text[1024] = {};
  const int length = ::GetWindowTextW(control_, text, 1024);
  const HDC dc = ::GetDC(control_);
  const HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control_, WM_GETFONT, 0, 0)));
  SIZE extent{};
  ::GetTextExtentPoint32W(dc, text, length, &extent);
  ::SelectObject(dc, previous);
  ::ReleaseDC(control_, dc);

  RECT old;
  ::GetWindowRect(control_, &old);
  ::MapWindowPoints(nullptr, ::GetParent(control_), reinterpret_cast<POINT*>(&old), 2);
  const LONG style = ::GetWindowLongW(control_, GWL_STYLE);
  int left = old.left;
  int top = old.top;
  if (style & SS_CENTERIMAGE) top = old.top + ((old.bottom - old.top) - extent.cy) / 2;
  if ((style & SS_TYPEMASK) == SS_CENTER) {
    left = old.left + ((old.right - old.left) - extent.cx) / 2;
  } else if ((style & SS_TYPEMASK) == SS_RIGHT) {
    left = old.right - extent.cx;
  }
  ::SetWindowPos(control_, nullptr, left, top, extent.cx, extent.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

HBRUSH CHyperLink::on_ctl_color(HDC dc) const {
  ::SetTextColor(dc, over_ ? kHoverColour : visited_ ? kVisitedColour : kLinkColour);
  ::SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

void CHyperLink::set_hover(bool over) {
  over_ = over;
  ::SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(over ? underlined_font_ : normal_font_), FALSE);
  RECT area;
  ::GetWindowRect(control_, &area);
  ::MapWindowPoints(nullptr, ::GetParent(control_), reinterpret_cast<POINT*>(&area), 2);
  ::InvalidateRect(::GetParent(control_), &area, TRUE);
  ::InvalidateRect(control_, nullptr, TRUE);
}

void CHyperLink::on_clicked() {
  if (url_.empty()) return;
  over_ = false;
  const std::wstring quoted = L"\"" + address_to_open(url_) + L"\"";
  const INT_PTR result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", L"explorer", quoted.c_str(), nullptr, SW_SHOW));
  if (result > 32) {
    visited_ = true;
    ::InvalidateRect(control_, nullptr, TRUE);
    return;
  }
  ::MessageBeep(MB_ICONEXCLAMATION);
  wchar_t message[256];
  if (const wchar_t* known = open_error_text(result)) {
    ::wsprintfW(message, L"Unable to open hyperlink:\n\n%s", known);
  } else {
    ::wsprintfW(message, L"Unable to open hyperlink:\n\nUnknown Error (%d) occurred.", static_cast<int>(result));
  }
  ::MessageBoxW(::GetParent(control_), message, nullptr, MB_OK | MB_ICONEXCLAMATION);
}

LRESULT CALLBACK CHyperLink::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<CHyperLink*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_SETCURSOR:
      if (const HCURSOR cursor = hand_cursor()) {
        ::SetCursor(cursor);
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (!self->over_) {
        self->set_hover(true);
        ::SetTimer(window, kHoverTimer, kHoverPeriodMs, nullptr);
      }
      break;
    case WM_TIMER:
      if (wparam == kHoverTimer) {
        POINT at;
        const DWORD position = ::GetMessagePos();
        at.x = static_cast<short>(LOWORD(position));
        at.y = static_cast<short>(HIWORD(position));
        ::ScreenToClient(window, &at);
        RECT client;
        ::GetClientRect(window, &client);
        if (!::PtInRect(&client, at)) {
          ::KillTimer(window, kHoverTimer);
          self->set_hover(false);
        }
        return 0;
      }
      break;
    case WM_DESTROY:
      ::KillTimer(window, kHoverTimer);
      break;
  }
  return ::CallWindowProcW(self->original_, window, message, wparam, lparam);
}

}  // namespace GUI_Common
