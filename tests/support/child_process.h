// A program started by a test, from the directory of the test itself. It is
// ended when the object goes, so no test leaves a process behind.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "system/unique_handle.h"

namespace Test_Support {

std::wstring program_dir();

class Child_Process {
 public:
  // Starts `program` (a file name beside the running test, or a full path)
  // with the given command-line tail. Check running() for success.
  Child_Process(const std::wstring& program, const std::wstring& arguments);
  ~Child_Process();

  Child_Process(const Child_Process&) = delete;
  Child_Process& operator=(const Child_Process&) = delete;

  bool running() const;
  // The exit code once the process has ended within timeout_ms.
  std::optional<DWORD> wait(DWORD timeout_ms);
  void kill();
  DWORD id() const { return id_; }
  // Why the process could not be started; 0 when it was.
  DWORD start_error() const { return start_error_; }

 private:
  Core_Common::Unique_Handle process_;
  DWORD id_ = 0;
  DWORD start_error_ = 0;
};

}  // namespace Test_Support
