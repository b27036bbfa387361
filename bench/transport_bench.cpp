// Measures the shared-memory transport between two processes beside the
// floor of its mechanism: two named auto-reset events bounced between the
// same two processes. Not a test; it prints figures.
//
//   transport_bench                 run the measurement (starts its peer)
//   transport_bench --peer ID PING PONG BOUNCES
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "ipc/channel_identity.h"
#include "ipc/guid_win32.h"
#include "ipc/transport_detector.h"
#include "support/child_process.h"
#include "support/pdu_inbox.h"
#include "support/raw_channel.h"

namespace {

using namespace Core_IPC;

constexpr int kBounces = 2000;
constexpr int kOneWay = 2000;
constexpr int kRoundTrips = 1000;

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

int run_peer(const Guid& id) {

  set_own_endpoint_id(id);
  Echo_Owner owner;
  Transport_Detector detector(&owner);
  owner.detector = &detector;
  if (!detector.valid() || !detector.start()) return 5;
  // The parent ends this process when it is done; the cap only guards
  // against a parent that died.
  ::Sleep(120000);
  return 0;
}

int run_bench() {
  Bench::Event_Bounce bounce;
  const Guid self = create_guid();
  const Guid peer = create_guid();
  Test_Support::Child_Process child(L"transport_bench.exe", bounce.peer_arguments(peer, kBounces));
  if (!child.running()) {
    std::fprintf(stderr, "cannot start the peer\n");
    return 1;
  }

  // Floor: one round trip of two kernel events between the processes.
  const double bounce_us = bounce.measure(kBounces);
  if (bounce_us < 0) {
    std::fprintf(stderr, "event bounce stalled\n");
    return 1;
  }

  set_own_endpoint_id(self);
  Test_Support::Pdu_Inbox inbox;
  Transport_Detector detector(&inbox);
  if (!detector.valid() || !detector.start()) return 1;
  if (!Test_Support::wait_for_endpoint(peer)) return 1;

  std::vector<uint8_t> one_way(64, 'o');
  int failed = 0;
  const double one_way_start = Bench::now_us();
  for (int i = 0; i < kOneWay; ++i) {
    if (!detector.send(one_way.data(), one_way.size(), peer, 5000)) ++failed;
  }
  const double one_way_us = (Bench::now_us() - one_way_start) / kOneWay;

  std::vector<uint8_t> request(64, 'r');
  std::vector<double> round_trips;
  for (int i = 0; i < kRoundTrips; ++i) {
    const double start = Bench::now_us();
    if (!detector.send(request.data(), request.size(), peer, 5000) || !inbox.wait_next(5000)) {
      ++failed;
      continue;
    }
    round_trips.push_back(Bench::now_us() - start);
  }
  if (round_trips.empty()) return 1;
  const double round_trip_us = Bench::percentile(round_trips, 0.5);

  std::printf("event_bounce_us=%.1f (floor: two named auto-reset events, %d round trips)\n",
              bounce_us, kBounces);
  std::printf("oneway_msgs_per_s=%.0f oneway_us=%.1f (64-byte PDU, acknowledged, %d messages)\n",
              1e6 / one_way_us, one_way_us, kOneWay);
  std::printf("roundtrip_us=%.1f p99_us=%.1f (median of %d, message and its answer)\n", round_trip_us,
              Bench::percentile(round_trips, 0.99), kRoundTrips);
  std::printf("failed_sends=%d\n", failed);
  std::printf("ratio_to_floor=%.2f\n", round_trip_us / bounce_us);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"--peer") {
    const auto id = Bench::run_peer_bounces(argc, argv);
    return id ? run_peer(*id) : 4;
  }
  return run_bench();
}
