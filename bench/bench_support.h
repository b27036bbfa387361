// Shared pieces of the Windows benchmarks: a microsecond clock, order
// statistics, and the floor every channel figure is set beside, two named
// auto-reset events bounced between two processes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "ipc/guid.h"
#include "system/unique_handle.h"

namespace Bench {

double now_us();

// The value below which `fraction` of the samples lie (0.5: the median).
double percentile(std::vector<double> samples, double fraction);

// The parent's side of the bounce: creates the two events, named after the
// process, which the child opens by these names.
class Event_Bounce {
 public:
  Event_Bounce();
  const std::wstring& ping_name() const { return ping_name_; }
  const std::wstring& pong_name() const { return pong_name_; }
  // The command-line tail of a benchmark's peer process:
  // "--peer ID PING PONG COUNT".
  std::wstring peer_arguments(const Core_IPC::Guid& peer, int count) const;
  // Mean round trip in microseconds over `count` bounces; negative when the
  // child stopped answering.
  double measure(int count);

 private:
  std::wstring ping_name_;
  std::wstring pong_name_;
  Core_Common::Unique_Handle ping_;
  Core_Common::Unique_Handle pong_;
};

// The child's side: answers `count` pings. False when they stop coming.
bool answer_bounces(const wchar_t* ping_name, const wchar_t* pong_name, int count);

// For a peer started with Event_Bounce::peer_arguments: answers the
// bounces and returns the peer's endpoint id, or nullopt when the command
// line is not a peer's or the bounces stopped.
std::optional<Core_IPC::Guid> run_peer_bounces(int argc, wchar_t** argv);

}  // namespace Bench
