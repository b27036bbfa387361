#include "runtime/clock.h"

#include <windows.h>

#include <mutex>

#include "runtime/tick_clock.h"

namespace Core_Common {

uint64_t now_ms() {
  static std::recursive_mutex lock;
  static Tick_Clock clock;
  std::lock_guard<std::recursive_mutex> hold(lock);
  return clock.extend(::GetTickCount());
}

}  // namespace Core_Common
