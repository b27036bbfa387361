// upload_bench ARCHIVE
// Uploads ARCHIVE as a report through the submission client to the server
// named by DROVAN_REPORT_ENDPOINT and prints how long it took. Run through
// upload_bench.py, which times curl against the same server beside it.
#include <windows.h>

#include <cstdio>

#include "submit/torrent_submit.h"

namespace {

WPARAM g_result = 2;
bool g_done = false;

LRESULT CALLBACK sink_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == OrbwellSearch::WMU_SUBMIT_RESULT || message == OrbwellSearch::WMU_REQUEST_RESULT) {
    g_result = w;
    g_done = true;
    return 0;
  }
  return ::DefWindowProcA(window, message, w, l);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: upload_bench ARCHIVE\n");
    return 2;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = sink_proc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "upload_bench_sink";
  ::RegisterClassA(&wc);
  HWND window = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
  OrbwellSearch::TorrentSubmit::create();

  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  OrbwellSearch::SubmitReport("", window, {"bench", "upload benchmark", argv[1]});
  MSG msg;
  while (!g_done && ::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
  ::QueryPerformanceCounter(&end);
  OrbwellSearch::TorrentSubmit::destroy();

  std::printf("ours_ms=%.1f result=%u\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
              static_cast<unsigned>(g_result));
  return g_result == 0 ? 0 : 1;
}
