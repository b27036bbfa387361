// client_sim.exe: a stand-in for the main client, for tests and the demo.
// It takes the main client's place on the channel (its endpoint id and its
// instance mutex), starts the host, serves the client's callback interface
// (654) and drives the host's interface (987) from a script.
//
//   client_sim --host PATH --log FILE [--answers FILE] [--tcp N] [--udp N] SCRIPT
//
// Script lines (blank lines and "#" comments are skipped):
//   start [ARG...]       start the host with "/host /tcp_port=N /udp_port=N ARG...",
//                        wait for its ready event (15 s): "ready" or "not ready"
//   call M [SPEC...]     call method M of 987: "reply M status S" or "reply M none"
//   wait M N MS          until N calls of 654 method M arrived: "got M N" or
//                        "timeout M have K"
//   sleep MS
//   post ITEM CODE       post the plug-in's event message to the host's sink
//                        window: "posted" or "no sink"
//   drop_mutex           close the client instance mutex: the client looks gone
//   host_exit MS         "host exit CODE" or "host running"
//   latency N ITEM       N times: call 2 (query ITEM) and time until the
//                        notification 8 it causes, and time a call the host's
//                        worker answers alone; prints medians and p99s
// Every call of 654 is logged as "notify M HEX..." (methods 3-9) or
// "ask M HEX..." (0-2), one hex field per argument ("-" when empty).
// Methods 0-2 are answered from the answer table: lines "M SPEC...", where
// SPEC is an argument (see argument_spec.h), "text:item" (a text of its own
// for the item asked about, "item-N;" repeated N % 64 + 1 times), "delay:MS"
// (the answer waits MS first) or, for method 2, "fill:request" or
// "fill:request-1" (bytes 0x5a, as many as asked, or one fewer).
// At the end a host still running is ended.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "argument_spec.h"
#include "ipc/channel_identity.h"
#include "ipc/procedure_calls.h"
#include "system/unique_handle.h"

namespace Client_Sim {

namespace {

using Core_IPC::Argument_List;

constexpr wchar_t kClientInstanceMutex[] = L"{VORANTIX-D19EACFB-5FD1-4615-A179-A9B9E38A6506}";
constexpr wchar_t kReadyEvent[] = L"OrbwellPluginHostProcessCreated";
constexpr wchar_t kSinkWindow[] = L"{C7BD0F78-136E-4b06-9D9D-30E5DC357C72}_PluginMsgSink";
constexpr uint32_t kClientInterface = 654;
constexpr uint32_t kHostInterface = 987;
constexpr UINT kPluginEventMessage = 0x521;

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class Log {
 public:
  explicit Log(const std::wstring& path) : out_(_wfopen(path.c_str(), L"wb")) {}
  ~Log() {
    if (out_ != nullptr) std::fclose(out_);
  }
  void line(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    if (out_ == nullptr) return;
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
  }

 private:
  std::mutex lock_;
  FILE* out_;
};

// Answers for methods 0-2, by method id.
using Answer_Table = std::map<uint32_t, std::vector<std::string>>;

class Client_Stub final : public Core_IPC::Local_Procedure_Stub {
 public:
  Client_Stub(Log& log, Answer_Table answers) : log_(log), answers_(std::move(answers)) {}
  ~Client_Stub() override { Core_IPC::unregister_stub(this); }

  bool dispatch(uint32_t method_id, const Argument_List& arguments,
                std::unique_ptr<Core_IPC::Respond_Data> respond) override {
    std::string line = (method_id <= 2 ? "ask " : "notify ") + std::to_string(method_id);
    for (const auto& argument : arguments) line += " " + hex_text(argument);
    log_.line(line);
    {
      std::lock_guard<std::mutex> hold(lock_);
      ++counts_[method_id];
      arrived_.notify_all();
    }
    if (method_id > 9) return Core_IPC::respond(method_id, std::move(respond), Core_IPC::kStatusUnknownMethod);
    if (method_id > 2) return Core_IPC::respond(method_id, std::move(respond), Core_IPC::kStatusSuccess);
    return Core_IPC::respond_with_arguments(method_id, std::move(respond), Core_IPC::kStatusSuccess,
                                            answer(method_id, arguments));
  }

  // Waits until `count` calls of the method have arrived in all.
  bool wait_for(uint32_t method_id, uint32_t count, DWORD timeout_ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                             [&] { return counts_[method_id] >= count; });
  }
  uint32_t count(uint32_t method_id) {
    std::lock_guard<std::mutex> hold(lock_);
    return counts_[method_id];
  }

 private:
  Argument_List answer(uint32_t method_id, const Argument_List& arguments) const {
    Argument_List results;
    const auto found = answers_.find(method_id);
    if (found == answers_.end()) return results;
    // The size a read asked for, for "fill:request".
    const uint32_t asked =
        arguments.size() == 3 ? Core_IPC::argument_as_u32(arguments[2]).value_or(0) : 0;
    for (const std::string& spec : found->second) {
      if (spec.compare(0, 6, "delay:") == 0) {
        ::Sleep(static_cast<DWORD>(std::strtoul(spec.c_str() + 6, nullptr, 10)));
      } else if (spec == "text:item") {
        // A text of its own for each item, of a length of its own.
        const uint32_t item = arguments.empty() ? 0 : Core_IPC::argument_as_u32(arguments[0]).value_or(0);
        std::string text;
        for (uint32_t i = 0; i <= item % 64; ++i) text += "item-" + std::to_string(item) + ";";
        results.emplace_back(text.begin(), text.end());
      } else if (spec == "fill:request") {
        results.emplace_back(asked, 0x5a);
      } else if (spec == "fill:request-1") {
        results.emplace_back(asked == 0 ? 0 : asked - 1, 0x5a);
      } else if (auto argument = parse_argument(spec)) {
        results.push_back(std::move(*argument));
      }
    }
    return results;
  }

  Log& log_;
  const Answer_Table answers_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::map<uint32_t, uint32_t> counts_;
};

struct Options {
  std::wstring host;
  std::wstring log;
  std::wstring answers;
  std::wstring script;
  unsigned tcp_port = 6881;
  unsigned udp_port = 6882;
};

class Session {
 public:
  Session(const Options& options, Log& log, Client_Stub& stub)
      : options_(options), log_(log), stub_(stub),
        ready_(::CreateEventW(nullptr, FALSE, FALSE, kReadyEvent)),
        client_mutex_(::CreateMutexW(nullptr, FALSE, kClientInstanceMutex)) {}
  ~Session() {
    if (host_ && ::WaitForSingleObject(host_.get(), 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(host_.get(), 99);
      ::WaitForSingleObject(host_.get(), 5000);
    }
  }

  void run(const std::vector<std::string>& words) {
    const std::string& command = words[0];
    if (command == "start") {
      start(words);
    } else if (command == "call" && words.size() >= 2) {
      call(words);
    } else if (command == "wait" && words.size() == 4) {
      const uint32_t method = std::stoul(words[1]);
      const uint32_t count = std::stoul(words[2]);
      if (stub_.wait_for(method, count, std::stoul(words[3]))) {
        log_.line("got " + words[1] + " " + words[2]);
      } else {
        log_.line("timeout " + words[1] + " have " + std::to_string(stub_.count(method)));
      }
    } else if (command == "sleep" && words.size() == 2) {
      ::Sleep(std::stoul(words[1]));
    } else if (command == "post" && words.size() == 3) {
      const HWND sink = ::FindWindowW(L"Static", kSinkWindow);
      if (sink != nullptr && ::PostMessageW(sink, kPluginEventMessage,
                                            static_cast<WPARAM>(std::stol(words[1])),
                                            static_cast<LPARAM>(std::stol(words[2])))) {
        log_.line("posted");
      } else {
        log_.line("no sink");
      }
    } else if (command == "drop_mutex") {
      client_mutex_.reset();
      log_.line("mutex dropped");
    } else if (command == "host_exit" && words.size() == 2) {
      DWORD code = 0;
      if (host_ && ::WaitForSingleObject(host_.get(), std::stoul(words[1])) == WAIT_OBJECT_0 &&
          ::GetExitCodeProcess(host_.get(), &code)) {
        log_.line("host exit " + std::to_string(code));
      } else {
        log_.line("host running");
      }
    } else if (command == "latency" && words.size() == 3) {
      latency(std::stoul(words[1]), std::stol(words[2]));
    } else {
      log_.line("bad line: " + command);
    }
  }

 private:
  void start(const std::vector<std::string>& words) {
    std::wstring command = L"\"" + options_.host + L"\" /host /tcp_port=" +
                           std::to_wstring(options_.tcp_port) + L" /udp_port=" +
                           std::to_wstring(options_.udp_port);
    for (size_t i = 1; i < words.size(); ++i) command += L" " + widen(words[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(options_.host.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
      log_.line("not started");
      return;
    }
    ::CloseHandle(info.hThread);
    host_.reset(info.hProcess);
    log_.line(::WaitForSingleObject(ready_.get(), 15000) == WAIT_OBJECT_0 ? "ready" : "not ready");
  }

  void call(const std::vector<std::string>& words) {
    const uint32_t method = std::stoul(words[1]);
    Argument_List arguments;
    for (size_t i = 2; i < words.size(); ++i) {
      const auto argument = parse_argument(words[i]);
      if (!argument) {
        log_.line("bad argument: " + words[i]);
        return;
      }
      arguments.push_back(*argument);
    }
    // A call with result hands back the reply's status; a value no reply
    // carries tells that none came.
    constexpr uint32_t kNoReply = 0xFFFFFFFF;
    uint32_t status = kNoReply;
    Argument_List results;
    const Core_IPC::Service_Address host{kHostInterface, Core_IPC::kHostEndpointId};
    Core_IPC::call_with_result(host, status, method, arguments, results);
    if (status != kNoReply) {
      log_.line("reply " + words[1] + " status " + std::to_string(status));
    } else {
      log_.line("reply " + words[1] + " none");
    }
  }

  // Median and 99th percentile of `samples`, in place.
  static std::pair<double, double> median_and_p99(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
  }

  void latency(uint32_t rounds, int32_t item) {
    const Core_IPC::Service_Address host{kHostInterface, Core_IPC::kHostEndpointId};
    const Core_IPC::Argument item_argument = *parse_argument("i32:" + std::to_string(item));
    const auto since = [](std::chrono::steady_clock::time_point begun) {
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
    };
    std::vector<double> samples, round_trips;
    for (uint32_t i = 0; i < rounds && rounds > 0; ++i) {
      const uint32_t before = stub_.count(8);
      auto begun = std::chrono::steady_clock::now();
      uint32_t status = 0;
      if (!Core_IPC::call(host, status, 2, {item_argument}) || !stub_.wait_for(8, before + 1, 5000)) {
        log_.line("latency: no notification");
        return;
      }
      samples.push_back(since(begun));
      // The channel alone: a method the host does not have is answered by
      // its worker at once, without the main thread.
      begun = std::chrono::steady_clock::now();
      Core_IPC::call(host, status, 99, {});
      round_trips.push_back(since(begun));
    }
    if (samples.empty()) return;
    const auto [median, p99] = median_and_p99(samples);
    const auto [trip_median, trip_p99] = median_and_p99(round_trips);
    char text[240];
    std::snprintf(text, sizeof text,
                  "latency %u calls: median %.1f ms, p99 %.1f ms; channel round trip median %.1f ms, p99 %.1f ms;"
                  " heartbeat 100 ms",
                  rounds, median, p99, trip_median, trip_p99);
    log_.line(text);
    std::printf("%s\n", text);
  }

  const Options& options_;
  Log& log_;
  Client_Stub& stub_;
  Core_Common::Unique_Handle ready_;
  Core_Common::Unique_Handle client_mutex_;
  Core_Common::Unique_Handle host_;
};

std::vector<std::vector<std::string>> read_lines(const std::wstring& path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(path.c_str());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto words = split_words(line);
    if (!words.empty()) lines.push_back(std::move(words));
  }
  return lines;
}

Answer_Table read_answers(const std::wstring& path) {
  Answer_Table table;
  if (path.empty()) return table;
  for (auto& words : read_lines(path)) {
    const uint32_t method = std::stoul(words[0]);
    table[method] = std::vector<std::string>(words.begin() + 1, words.end());
  }
  return table;
}

}  // namespace

int run(const Options& options) {
  Core_IPC::set_own_endpoint_id(Core_IPC::kClientEndpointId);
  Log log(options.log);
  int code = 0;
  {
    Client_Stub stub(log, read_answers(options.answers));
    Core_IPC::register_stub(&stub, kClientInterface);
    if (!Core_IPC::service_point().valid()) {
      log.line("no channel");
      code = 3;
    } else {
      Session session(options, log, stub);
      for (const auto& words : read_lines(options.script)) session.run(words);
    }
  }
  Core_IPC::IPC_Service_Point::shut_down();
  return code;
}

}  // namespace Client_Sim

int wmain(int argc, wchar_t** argv) {
  Client_Sim::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == L"--host" && has_value) {
      options.host = argv[++i];
    } else if (arg == L"--log" && has_value) {
      options.log = argv[++i];
    } else if (arg == L"--answers" && has_value) {
      options.answers = argv[++i];
    } else if (arg == L"--tcp" && has_value) {
      options.tcp_port = std::wcstoul(argv[++i], nullptr, 10);
    } else if (arg == L"--udp" && has_value) {
      options.udp_port = std::wcstoul(argv[++i], nullptr, 10);
    } else {
      options.script = arg;
    }
  }
  if (options.host.empty() || options.log.empty() || options.script.empty()) {
    std::fprintf(stderr, "usage: client_sim --host PATH --log FILE [--answers FILE] [--tcp N] [--udp N] SCRIPT\n");
    return 2;
  }
  return Client_Sim::run(options);
}
