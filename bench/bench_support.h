// Shared pieces of the Windows benchmarks: a microsecond clock, order
// statistics, and the floor every channel figure is set beside, two named
// auto-reset events bounced between two processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
  // Mean round trip in microseconds over `count` bounces; negative when the
  // child stopped answering.
  double measure(int count);

 private:
  std::wstring ping_name_;
  std::wstring pong_name_;
  HANDLE ping_;
  HANDLE pong_;
};

// The child's side: answers `count` pings. False when they stop coming.
bool answer_bounces(const wchar_t* ping_name, const wchar_t* pong_name, int count);

}  // namespace Bench
