// CHyperLink: a static control of a dialog turned into a web link that
// opens the user's browser. The dialog hands it the colour and click
// notifications it gets for the control (on_ctl_color, on_clicked).
#pragma once

#include <windows.h>

#include <string>

namespace GUI_Common {

class CHyperLink {
 public:
  static constexpr COLORREF kLinkColour = RGB(0, 0, 238);
  static constexpr COLORREF kVisitedColour = RGB(85, 26, 139);
  static constexpr COLORREF kHoverColour = RGB(255, 0, 0);

  CHyperLink() = default;
  ~CHyperLink();
  CHyperLink(const CHyperLink&) = delete;
  CHyperLink& operator=(const CHyperLink&) = delete;

  // Takes over the dialog's static control: clicks reach its parent, the
  // control fits its text, the tooltip shows the address.
  void attach(HWND control);
  void set_url(const std::wstring& url);
  const std::wstring& url() const { return url_; }
  bool visited() const { return visited_; }
  HWND handle() const { return control_; }

  // WM_CTLCOLORSTATIC of the control: its text colour, no background.
  HBRUSH on_ctl_color(HDC dc) const;
  // STN_CLICKED: opens the address.
  void on_clicked();

  // The address as opened: "http://" in front unless it has a scheme.
  static std::wstring address_to_open(const std::wstring& url);

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void fit_to_text();
  void set_hover(bool over);
  void update_tooltip();

  HWND control_ = nullptr;
  WNDPROC original_ = nullptr;
  HWND tooltip_ = nullptr;
  HFONT normal_font_ = nullptr;      // owned
  HFONT underlined_font_ = nullptr;  // owned
  std::wstring url_;
  bool over_ = false;
  bool visited_ = false;
};

}  // namespace GUI_Common
