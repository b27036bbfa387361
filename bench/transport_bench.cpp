// Measures the shared-memory transport between two processes beside the
// floor of its mechanism: two named auto-reset events bounced between the
// same two processes. Not a test; it prints figures.
//
//   transport_bench                 run the measurement (starts its peer)
//   transport_bench --peer ID PING PONG BOUNCES
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "ipc/channel_identity.h"
#include "ipc/guid_win32.h"
#include "ipc/transport_detector.h"
#include "support/child_process.h"
#include "support/pdu_inbox.h"

namespace {

using Core_Common::Unique_Handle;
using namespace Core_IPC;

constexpr int kBounces = 2000;
constexpr int kOneWay = 2000;
constexpr int kRoundTrips = 1000;

double now_us() {
  static const double ticks_per_us = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1e6;
  }();
  LARGE_INTEGER c;
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / ticks_per_us;
}

// The peer answers every PDU that starts with 'r' with the same bytes, from
// its receive thread; others it only counts.
class Echo_Owner : public Transport_Detector_Owner {
 public:
  Transport_Detector* detector = nullptr;
  std::atomic<int> received{0};

  bool accept(const uint8_t*, size_t) override { return true; }
  void on_pdu(const uint8_t* pdu, size_t size, Guid source) override {
    ++received;
    if (size != 0 && pdu[0] == 'r') detector->send(pdu, size, source, 5000);
  }
};

int run_peer(wchar_t** argv) {
  const std::wstring id_text = argv[2];
  const auto id = parse_guid(std::string(id_text.begin(), id_text.end()));
  if (!id) return 2;
  Unique_Handle ping(::OpenEventW(EVENT_ALL_ACCESS, FALSE, argv[3]));
  Unique_Handle pong(::OpenEventW(EVENT_ALL_ACCESS, FALSE, argv[4]));
  const int bounces = _wtoi(argv[5]);
  if (!ping || !pong) return 3;
  for (int i = 0; i < bounces; ++i) {
    if (::WaitForSingleObject(ping.get(), 5000) != WAIT_OBJECT_0) return 4;
    ::SetEvent(pong.get());
  }

  set_own_endpoint_id(*id);
  Echo_Owner owner;
  Transport_Detector detector(&owner);
  owner.detector = &detector;
  if (!detector.valid() || !detector.start()) return 5;
  // The parent ends this process when it is done; the cap only guards
  // against a parent that died.
  ::Sleep(120000);
  return 0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int run_bench() {
  const std::wstring suffix = std::to_wstring(::GetCurrentProcessId());
  const std::wstring ping_name = L"transport_bench_ping_" + suffix;
  const std::wstring pong_name = L"transport_bench_pong_" + suffix;
  Unique_Handle ping(::CreateEventW(nullptr, FALSE, FALSE, ping_name.c_str()));
  Unique_Handle pong(::CreateEventW(nullptr, FALSE, FALSE, pong_name.c_str()));

  const Guid self = create_guid();
  const Guid peer = create_guid();
  const std::string peer_text = format_guid(peer);
  Test_Support::Child_Process child(
      L"transport_bench.exe", L"--peer " + std::wstring(peer_text.begin(), peer_text.end()) + L" " +
                                  ping_name + L" " + pong_name + L" " + std::to_wstring(kBounces));
  if (!child.running()) {
    std::fprintf(stderr, "cannot start the peer\n");
    return 1;
  }

  // Floor: one round trip of two kernel events between the processes.
  const double floor_start = now_us();
  for (int i = 0; i < kBounces; ++i) {
    ::SetEvent(ping.get());
    if (::WaitForSingleObject(pong.get(), 5000) != WAIT_OBJECT_0) {
      std::fprintf(stderr, "event bounce stalled\n");
      return 1;
    }
  }
  const double bounce_us = (now_us() - floor_start) / kBounces;

  set_own_endpoint_id(self);
  Test_Support::Pdu_Inbox inbox;
  Transport_Detector detector(&inbox);
  if (!detector.valid() || !detector.start()) return 1;
  const std::wstring peer_event = endpoint_event_name(peer);
  for (int i = 0; i < 500; ++i) {
    if (Unique_Handle(::OpenEventW(SYNCHRONIZE, FALSE, peer_event.c_str()))) break;
    ::Sleep(10);
  }

  std::vector<uint8_t> one_way(64, 'o');
  int failed = 0;
  const double one_way_start = now_us();
  for (int i = 0; i < kOneWay; ++i) {
    if (!detector.send(one_way.data(), one_way.size(), peer, 5000)) ++failed;
  }
  const double one_way_us = (now_us() - one_way_start) / kOneWay;

  std::vector<uint8_t> request(64, 'r');
  std::vector<double> round_trips;
  for (int i = 0; i < kRoundTrips; ++i) {
    const double start = now_us();
    if (!detector.send(request.data(), request.size(), peer, 5000) || !inbox.wait_next(5000)) {
      ++failed;
      continue;
    }
    round_trips.push_back(now_us() - start);
  }
  if (round_trips.empty()) return 1;
  const double round_trip_us = median(round_trips);

  std::printf("event_bounce_us=%.1f (floor: two named auto-reset events, %d round trips)\n",
              bounce_us, kBounces);
  std::printf("oneway_msgs_per_s=%.0f oneway_us=%.1f (64-byte PDU, acknowledged, %d messages)\n",
              1e6 / one_way_us, one_way_us, kOneWay);
  std::printf("roundtrip_us=%.1f (median of %d, message and its answer)\n", round_trip_us,
              kRoundTrips);
  std::printf("failed_sends=%d\n", failed);
  std::printf("ratio_to_floor=%.2f\n", round_trip_us / bounce_us);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 6 && std::wstring(argv[1]) == L"--peer") return run_peer(argv);
  return run_bench();
}
