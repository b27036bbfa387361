#include "host/single_instance.h"

#include "host/host_names.h"
#include "host/ready_event.h"

namespace Plugin_Host {

namespace {

constexpr UINT kProbeTimeoutMs = 5000;
// How long a second start waits for the running host to take its link: a
// host busy inside the plug-in must not leave the second start hanging.
constexpr UINT kHandOverTimeoutMs = 10000;

// True when the window answered within the time-out with the message id.
bool ask_where_are_you(HWND window, WPARAM show) {
  DWORD_PTR answer = 0;
  const LRESULT sent = ::SendMessageTimeoutW(window, where_are_you_message(), show, 0,
                                             SMTO_BLOCK | SMTO_ABORTIFHUNG, kProbeTimeoutMs, &answer);
  return sent != 0 && answer == where_are_you_message();
}

BOOL CALLBACK probe_window(HWND window, LPARAM found) {
  if (!ask_where_are_you(window, 0)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

UINT where_are_you_message() {
  static const UINT message = ::RegisterWindowMessageW(kWhereAreYouMessage);
  return message;
}

Host_Instance_Mutex::Host_Instance_Mutex()
    : handle_(::CreateMutexW(nullptr, FALSE, kHostInstanceMutex)), last_error_(::GetLastError()) {}

HWND find_running_host() {
  HWND found = nullptr;
  ::EnumWindows(probe_window, reinterpret_cast<LPARAM>(&found));
  return found;
}

bool give_way(First_Argument first, const std::wstring& link) {
  if (const HWND host = find_running_host()) {
    if (first != First_Argument::host_switch) ask_where_are_you(host, 1);
    if (first == First_Argument::link) {
      COPYDATASTRUCT data{};
      data.dwData = 0;
      data.cbData = static_cast<DWORD>((link.size() + 1) * sizeof(wchar_t));
      data.lpData = const_cast<wchar_t*>(link.c_str());
      DWORD_PTR ignored = 0;
      ::SendMessageTimeoutW(host, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK | SMTO_ABORTIFHUNG,
                            kHandOverTimeoutMs, &ignored);
      return true;
    }
  }
  set_ready_event();
  return false;
}

}  // namespace Plugin_Host
