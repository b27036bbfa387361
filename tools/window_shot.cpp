// window_shot.exe: waits for a visible top-level window whose caption is
// CAPTION and saves its client area as a bitmap; for the demo.
//
//   window_shot CAPTION OUT.bmp [TIMEOUT_MS]
//
// Exit code 0 when saved, 1 when no such window came in time.
#include <windows.h>

#include <cwchar>
#include <string>

#include "window_capture.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const DWORD timeout_ms = argc > 3 ? std::wcstoul(argv[3], nullptr, 10) : 15000;
  for (DWORD waited = 0; waited <= timeout_ms; waited += 100) {
    const HWND window = ::FindWindowW(nullptr, argv[1]);
    if (window != nullptr && ::IsWindowVisible(window)) {
      ::Sleep(500);  // let it finish drawing
      return Window_Capture::save_client_area(window, argv[2]) ? 0 : 1;
    }
    ::Sleep(100);
  }
  return 1;
}
