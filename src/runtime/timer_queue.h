// One-shot and periodic timers run on the thread that created the queue,
// driven by the host window's 100 ms tick. A caller holds each timer
// through a handle (a timer_t pointer, null when nothing is armed).
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/clock.h"

namespace Core_Common {

class TimerQueue {
 public:
  using Callback = std::function<void()>;

  struct timer_t {
    timer_t** handle;     // the owner's handle, cleared when the timer goes
    Callback callback;
    timestamp_auto deadline;
    const char* name;     // for diagnostics; not owned
    int32_t repeat_ms;    // -1: one-shot
  };

  // The creating thread becomes the owner thread.
  TimerQueue();
  ~TimerQueue();

  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // Arms a timer, or re-arms the one the handle holds (keeping its name).
  void set_timer(timer_t*& handle, uint32_t interval_ms, bool repeat, const char* name,
                 Callback callback);
  // Disarms and frees the handle's timer and clears the handle.
  void kill_timer(timer_t*& handle);
  // Fires every timer whose deadline has passed; callbacks may set and
  // kill timers.
  void run_due_timers();

  size_t armed_count() const;

 private:
  void check_owner_thread() const;
  void insert(timer_t* timer);
  void remove(timer_t* timer);
  static timer_t* new_record();
  static void free_record(timer_t* timer);

  std::vector<timer_t*> armed_;  // earliest deadline first
  mutable std::recursive_mutex lock_;
  std::thread::id owner_thread_;
};

using timer_t = TimerQueue::timer_t;

// The process's queue: created on the main thread at start-up.
void create_timer_queue();
void destroy_timer_queue();
TimerQueue* timer_queue();

void set_timer(timer_t*& handle, uint32_t interval_ms, bool repeat, const char* name,
               TimerQueue::Callback callback);
void kill_timer(timer_t*& handle);
void run_due_timers();

// Diagnostics for the crash log: when the last run of timers started and
// when the last timer callback ended.
uint64_t last_timer_run_start_ms();
uint64_t last_timer_callback_end_ms();

}  // namespace Core_Common
