#include "bench_support.h"

#include <algorithm>

namespace Bench {

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

double percentile(std::vector<double> samples, double fraction) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const size_t index = std::min(samples.size() - 1, static_cast<size_t>(fraction * samples.size()));
  return samples[index];
}

Event_Bounce::Event_Bounce() {
  const std::wstring suffix = std::to_wstring(::GetCurrentProcessId());
  ping_name_ = L"bench_ping_" + suffix;
  pong_name_ = L"bench_pong_" + suffix;
  // They live as long as the benchmark process.
  ping_.reset(::CreateEventW(nullptr, FALSE, FALSE, ping_name_.c_str()));
  pong_.reset(::CreateEventW(nullptr, FALSE, FALSE, pong_name_.c_str()));
}

double Event_Bounce::measure(int count) {
  const double start = now_us();
  for (int i = 0; i < count; ++i) {
    ::SetEvent(ping_.get());
    if (::WaitForSingleObject(pong_.get(), 5000) != WAIT_OBJECT_0) return -1;
  }
  return (now_us() - start) / count;
}

std::wstring Event_Bounce::peer_arguments(const Core_IPC::Guid& peer, int count) const {
  const std::string id = Core_IPC::format_guid(peer);
  return L"--peer " + std::wstring(id.begin(), id.end()) + L" " + ping_name_ + L" " + pong_name_ +
         L" " + std::to_wstring(count);
}

std::optional<Core_IPC::Guid> run_peer_bounces(int argc, wchar_t** argv) {
  if (argc < 6 || std::wstring(argv[1]) != L"--peer") return std::nullopt;
  const std::wstring id_text = argv[2];
  const auto id = Core_IPC::parse_guid(std::string(id_text.begin(), id_text.end()));
  if (!id || !answer_bounces(argv[3], argv[4], _wtoi(argv[5]))) return std::nullopt;
  return id;
}

bool answer_bounces(const wchar_t* ping_name, const wchar_t* pong_name, int count) {
  const Core_Common::Unique_Handle ping(::OpenEventW(EVENT_ALL_ACCESS, FALSE, ping_name));
  const Core_Common::Unique_Handle pong(::OpenEventW(EVENT_ALL_ACCESS, FALSE, pong_name));
  bool ok = ping && pong;
  for (int i = 0; ok && i < count; ++i) {
    ok = ::WaitForSingleObject(ping.get(), 5000) == WAIT_OBJECT_0;
    if (ok) ::SetEvent(pong.get());
  }
  return ok;
}

}  // namespace Bench
