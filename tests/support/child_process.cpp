#include "support/child_process.h"

#include <vector>

namespace Test_Support {

std::wstring program_dir() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      std::wstring full(path.data(), n);
      return full.substr(0, full.find_last_of(L"\\/") + 1);
    }
    path.resize(path.size() * 2);
  }
}

Child_Process::Child_Process(const std::wstring& program, const std::wstring& arguments) {
  const bool full_path = program.find_first_of(L"\\/:") != std::wstring::npos;
  const std::wstring exe = full_path ? program : program_dir() + program;
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
    const Core_Common::Unique_Handle thread(info.hThread);  // not needed
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
  } else {
    start_error_ = ::GetLastError();
  }
}

Child_Process::~Child_Process() { kill(); }

bool Child_Process::running() const {
  return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Child_Process::wait(DWORD timeout_ms) {
  if (!process_ || ::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  return code;
}

void Child_Process::kill() {
  if (running()) {
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 5000);
  }
}

}  // namespace Test_Support
