#include "runtime/timer_queue.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <string>

#include "base/crash_context.h"
#include "base/fatal_error.h"
#include "base/widen.h"
#include "system/block_pool.h"

namespace Core_Common {

namespace {

static_assert(sizeof(TimerQueue::timer_t) <= Core_Common::kBlockSize,
              "a timer record fits one block of the pool");

// The block pool takes no lock of its own; timer records are its only
// users here.
std::mutex& record_pool_lock() {
  static std::mutex lock;
  return lock;
}

std::atomic<uint64_t> run_start_ms{0};
std::atomic<uint64_t> callback_end_ms{0};

}  // namespace

TimerQueue::TimerQueue() : owner_thread_(std::this_thread::get_id()) {}

TimerQueue::~TimerQueue() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (timer_t* timer : armed_) {
    *timer->handle = nullptr;
    free_record(timer);
  }
  armed_.clear();
}

TimerQueue::timer_t* TimerQueue::new_record() {
  void* block;
  {
    std::lock_guard<std::mutex> hold(record_pool_lock());
    block = Core_Common::block_alloc();
  }
  if (block == nullptr) throw std::bad_alloc();
  return ::new (block) timer_t{nullptr, nullptr, timestamp_auto(), "", -1};
}

void TimerQueue::free_record(timer_t* timer) {
  timer->~timer_t();
  std::lock_guard<std::mutex> hold(record_pool_lock());
  Core_Common::block_free(timer);
}

void TimerQueue::check_owner_thread() const {
  if (std::this_thread::get_id() != owner_thread_) raise_fatal_error();
}

void TimerQueue::insert(timer_t* timer) {
  // After every timer with the same deadline: equal deadlines keep the
  // order they were armed in.
  const auto at = std::find_if(armed_.begin(), armed_.end(), [&](const timer_t* t) {
    return t->deadline.value() > timer->deadline.value();
  });
  armed_.insert(at, timer);
}

void TimerQueue::remove(timer_t* timer) {
  armed_.erase(std::remove(armed_.begin(), armed_.end(), timer), armed_.end());
}

void TimerQueue::set_timer(timer_t*& handle, uint32_t interval_ms, bool repeat, const char* name,
                           Callback callback) {
  check_owner_thread();
  std::lock_guard<std::recursive_mutex> hold(lock_);
  timer_t* timer = handle;
  if (timer != nullptr) {
    remove(timer);
    timer->deadline.reset();
  } else {
    timer = new_record();
    timer->handle = &handle;
    timer->name = name;
  }
  timer->callback = std::move(callback);
  timer->deadline.add_milliseconds(interval_ms);
  timer->repeat_ms = repeat ? static_cast<int32_t>(interval_ms) : -1;
  insert(timer);
  handle = timer;
}

void TimerQueue::kill_timer(timer_t*& handle) {
  check_owner_thread();
  if (handle == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  timer_t* timer = handle;
  remove(timer);
  handle = nullptr;
  free_record(timer);
}

void TimerQueue::run_due_timers() {
  check_owner_thread();
  run_start_ms = now_ms();
  const uint64_t now = now_ms();
  std::lock_guard<std::recursive_mutex> hold(lock_);
  while (!armed_.empty() && static_cast<int64_t>(now - armed_.front()->deadline.value()) > 0) {
    timer_t* timer = armed_.front();
    armed_.erase(armed_.begin());
    Callback callback = timer->callback;
    const char* name = timer->name;

    if (timer->repeat_ms < 0) {
      // Cleared first, so the callback may arm the same handle again.
      *timer->handle = nullptr;
      free_record(timer);
    } else {
      timer->deadline.add_milliseconds(timer->repeat_ms);
      // A late timer fires once; it does not catch up.
      if (static_cast<int64_t>(now - timer->deadline.value()) > 0) timer->deadline.reset();
      insert(timer);
    }

    if (!callback) {
      Core_Common::set_crash_context_text(L"empty timer func:" + widen(name));
      raise_fatal_error();
    }
    callback();
    callback_end_ms = now_ms();
  }
}

size_t TimerQueue::armed_count() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return armed_.size();
}

uint64_t last_timer_run_start_ms() { return run_start_ms; }
uint64_t last_timer_callback_end_ms() { return callback_end_ms; }

}  // namespace Core_Common
