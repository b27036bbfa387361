// One run of client_sim, in the main client's place, against a sandbox's
// host, and what the tests ask of its log: client_sim logs the replies it
// got and every call of the client's interface it served.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/host_sandbox.h"

namespace Test_Support {

class Client_Run {
 public:
  Client_Run(const Host_Sandbox& sandbox, const std::string& script, const std::string& answers = "")
      : log_(sandbox.dir() / "client.log") {
    const std::filesystem::path script_file = sandbox.dir() / "client.script";
    const std::filesystem::path answer_file = sandbox.dir() / "client.answers";
    std::ofstream(script_file, std::ios::binary) << script;
    std::ofstream(answer_file, std::ios::binary) << answers;
    std::filesystem::remove(log_);
    client_ = std::make_unique<Child_Process>(
        L"client_sim.exe", L"--host \"" + sandbox.host_path() + L"\" --log \"" + log_.wstring() +
                               L"\" --answers \"" + answer_file.wstring() + L"\" \"" +
                               script_file.wstring() + L"\"");
  }

  // The log once the script has ended.
  std::vector<std::string> finish(DWORD timeout_ms = 60000) {
    EXPECT_EQ(client_->wait(timeout_ms), 0u);
    return log();
  }
  std::vector<std::string> log() const { return Test_Support::read_lines(log_); }
  bool logged_within(const std::string& line, DWORD ms) const {
    for (DWORD waited = 0; waited < ms; waited += 20) {
      const auto lines = log();
      if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
      ::Sleep(20);
    }
    return false;
  }

 private:
  std::filesystem::path log_;
  std::unique_ptr<Child_Process> client_;
};

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The log lines that start with `prefix`.
inline std::vector<std::string> starting(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  }
  return found;
}

inline std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 15]);
  }
  return text;
}

inline std::string le32(uint32_t value) {
  return std::string{static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                     static_cast<char>(value >> 24)};
}
inline std::string le64(uint64_t value) { return le32(static_cast<uint32_t>(value)) + le32(static_cast<uint32_t>(value >> 32)); }

}  // namespace Test_Support
