#include "support/host_sandbox.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace Test_Support {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> read_lines(const fs::path& path) {
  std::istringstream in(read_file(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

Host_Sandbox::Host_Sandbox(const std::string& control, bool with_plugin)
    : dir_(fs::path(program_dir()) / "host_sandbox"),
      ready_(::CreateEventW(nullptr, FALSE, FALSE, L"OrbwellPluginHostProcessCreated")) {
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  fs::copy_file(fs::path(program_dir()) / "plugin_Drovan.exe", dir_ / "plugin_Drovan.exe");
  if (with_plugin) fs::copy_file(fs::path(program_dir()) / "plugin_Drovan.dll", dir_ / "plugin_Drovan.dll");
  set_control(control);
}

namespace {

BOOL CALLBACK end_if_host(HWND window, LPARAM) {
  static const UINT where_are_you =
      ::RegisterWindowMessageW(L"WM_WHERE_ARE_YOU-{E67CC07E-ACF5-42b5-8AFF-6DE349BDFC6B}");
  DWORD_PTR answer = 0;
  if (::SendMessageTimeoutW(window, where_are_you, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 2000, &answer) == 0 ||
      answer != where_are_you) {
    return TRUE;
  }
  DWORD id = 0;
  ::GetWindowThreadProcessId(window, &id);
  const Core_Common::Unique_Handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
  if (process) {
    ::TerminateProcess(process.get(), 99);
    ::WaitForSingleObject(process.get(), 5000);
  }
  return TRUE;
}

}  // namespace

Host_Sandbox::~Host_Sandbox() { ::EnumWindows(end_if_host, 0); }

std::unique_ptr<Child_Process> Host_Sandbox::start(const std::wstring& arguments) const {
  return std::make_unique<Child_Process>(host_path(), arguments);
}

void Host_Sandbox::set_control(const std::string& control) const {
  std::ofstream(dir_ / "plugin_Drovan.control", std::ios::binary) << control;
}

bool Host_Sandbox::ready_within(DWORD ms) const {
  return ::WaitForSingleObject(ready_.get(), ms) == WAIT_OBJECT_0;
}

std::vector<std::string> Host_Sandbox::calls() const { return read_lines(dir_ / "plugin_Drovan.calls"); }

bool Host_Sandbox::has_call(const std::string& line) const { return count_calls(line) > 0; }

size_t Host_Sandbox::count_calls(const std::string& line) const {
  const auto all = calls();
  return static_cast<size_t>(std::count(all.begin(), all.end(), line));
}

bool Host_Sandbox::call_within(const std::string& line, DWORD ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!has_call(line)) {
    if (std::chrono::steady_clock::now() > end) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace Test_Support
