// The process's one timer queue, created on the main thread at start-up.
#include <memory>

#include "runtime/timer_queue.h"

namespace Core_Common {

namespace {

std::unique_ptr<TimerQueue>& queue_slot() {
  static std::unique_ptr<TimerQueue> slot;
  return slot;
}

}  // namespace

void create_timer_queue() { queue_slot() = std::make_unique<TimerQueue>(); }
void destroy_timer_queue() { queue_slot().reset(); }
TimerQueue* timer_queue() { return queue_slot().get(); }

void set_timer(timer_t*& handle, uint32_t interval_ms, bool repeat, const char* name,
               TimerQueue::Callback callback) {
  timer_queue()->set_timer(handle, interval_ms, repeat, name, std::move(callback));
}

void kill_timer(timer_t*& handle) { timer_queue()->kill_timer(handle); }

void run_due_timers() { timer_queue()->run_due_timers(); }

}  // namespace Core_Common
