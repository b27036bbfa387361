// Measures the round trip of a call with result (one 4-byte argument, one
// 4-byte result) between two processes, with one and with four calling
// threads, beside the floor of two named events bounced between the same
// processes. Not a test; it prints figures.
//
//   rpc_bench                        run the measurement (starts its peer)
//   rpc_bench --peer ID PING PONG BOUNCES
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "ipc/channel_identity.h"
#include "ipc/guid_win32.h"
#include "ipc/procedure_calls.h"
#include "support/child_process.h"
#include "support/raw_channel.h"

namespace {

using namespace Core_IPC;

constexpr uint32_t kInterface = 654;
constexpr int kBounces = 2000;
constexpr int kSingleCalls = 1000;
constexpr int kThreads = 4;
constexpr int kCallsPerThread = 400;

class Increment_Stub final : public Local_Procedure_Stub {
 public:
  bool dispatch(uint32_t method_id, const Argument_List& args,
                std::unique_ptr<Respond_Data> respond) override {
    const uint32_t value = args.empty() ? 0 : argument_as_u32(args[0]).value_or(0);
    return respond_with_arguments(method_id, std::move(respond), kStatusSuccess,
                                  {argument_u32(value + 1)});
  }
};

int run_peer(const Guid& id) {
  set_own_endpoint_id(id);
  Increment_Stub stub;
  register_stub(&stub, kInterface);
  if (!service_point().valid()) return 5;
  ::Sleep(120000);  // the parent ends this process
  return 0;
}

struct Run_Figures {
  std::vector<double> latencies_us;
  double seconds = 0;
  int failed = 0;
};

Run_Figures run_calls(const Service_Address& address, int threads, int calls_per_thread) {
  Run_Figures figures;
  std::mutex lock;
  const double start = Bench::now_us();
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t) {
    callers.emplace_back([&] {
      std::vector<double> mine;
      int failed = 0;
      for (int i = 0; i < calls_per_thread; ++i) {
        uint32_t status = 0;
        Argument_List results;
        const double begin = Bench::now_us();
        const bool ok = call_with_result(address, status, 0, {argument_u32(i)}, results);
        if (!ok || results.size() != 1 || argument_as_u32(results[0]) != uint32_t(i + 1)) {
          ++failed;
          continue;
        }
        mine.push_back(Bench::now_us() - begin);
      }
      std::lock_guard<std::mutex> hold(lock);
      figures.latencies_us.insert(figures.latencies_us.end(), mine.begin(), mine.end());
      figures.failed += failed;
    });
  }
  for (auto& t : callers) t.join();
  figures.seconds = (Bench::now_us() - start) / 1e6;
  return figures;
}

void print(const char* label, const Run_Figures& f) {
  std::printf("%s: median_us=%.1f p99_us=%.1f calls_per_s=%.0f failed=%d\n", label,
              Bench::percentile(f.latencies_us, 0.5), Bench::percentile(f.latencies_us, 0.99),
              f.latencies_us.size() / f.seconds, f.failed);
}

int run_bench() {
  Bench::Event_Bounce bounce;
  const Guid self = create_guid();
  const Guid peer = create_guid();
  Test_Support::Child_Process child(L"rpc_bench.exe", bounce.peer_arguments(peer, kBounces));
  if (!child.running()) return 1;
  const double bounce_us = bounce.measure(kBounces);
  if (bounce_us < 0) return 1;

  set_own_endpoint_id(self);
  if (!service_point().valid() || !Test_Support::wait_for_endpoint(peer)) return 1;
  const Service_Address address{kInterface, peer};

  const Run_Figures single = run_calls(address, 1, kSingleCalls);
  const Run_Figures multi = run_calls(address, kThreads, kCallsPerThread);

  std::printf("event_bounce_us=%.1f (floor: two named auto-reset events, %d round trips)\n",
              bounce_us, kBounces);
  print("1 thread", single);
  print("4 threads", multi);
  std::printf("ratio_to_floor=%.2f\n", Bench::percentile(single.latencies_us, 0.5) / bounce_us);
  IPC_Service_Point::shut_down();
  return single.failed + multi.failed == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"--peer") {
    const auto id = Bench::run_peer_bounces(argc, argv);
    return id ? run_peer(*id) : 4;
  }
  return run_bench();
}
