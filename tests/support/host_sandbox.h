// A directory of its own holding plugin_Drovan.exe and the sample
// plugin_Drovan.dll, with the plug-in's control file, and the ready event
// as the main client waits on it. Tests start real hosts from it and read
// what the plug-in logged.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "system/unique_handle.h"

namespace Test_Support {

std::string read_file(const std::filesystem::path& path);
// The file's lines, without their line ends.
std::vector<std::string> read_lines(const std::filesystem::path& path);

class Host_Sandbox {
 public:
  // An empty directory under the test's own; without the plug-in when
  // `with_plugin` is false.
  explicit Host_Sandbox(const std::string& control, bool with_plugin = true);
  // Ends a host that still runs, whoever started it, so the next test
  // starts as the first host.
  ~Host_Sandbox();

  std::unique_ptr<Child_Process> start(const std::wstring& arguments) const;
  std::wstring host_path() const { return (dir_ / "plugin_Drovan.exe").wstring(); }
  // Replaces the plug-in's control lines; it reads them at every call.
  void set_control(const std::string& control) const;
  bool ready_within(DWORD ms) const;

  std::vector<std::string> calls() const;
  bool has_call(const std::string& line) const;
  size_t count_calls(const std::string& line) const;
  bool call_within(const std::string& line, DWORD ms) const;
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  Core_Common::Unique_Handle ready_;
};

}  // namespace Test_Support
