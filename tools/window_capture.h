// Saves what a window shows on the screen as a 24-bit bitmap file: its
// client area, since without a window manager no frame is drawn.
#pragma once

#include <windows.h>

#include <string>

namespace Window_Capture {

bool save_client_area(HWND window, const std::wstring& bitmap_path);

}  // namespace Window_Capture
