#include "runtime/task_queue.h"

#include <algorithm>

#include "runtime/clock.h"

namespace Core_Common {

void Task_Queue::post_task(const void* owner, Callback callback) {
  std::lock_guard<std::recursive_mutex> hold(list_lock_);
  tasks_.push_back({owner, std::move(callback)});
  // The runner's own posts are taken by the run under way or the next tick.
  if (wake_ && !wake_pending_ && std::this_thread::get_id() != runner_) {
    wake_pending_ = true;
    wake_();
  }
}

void Task_Queue::set_wake(std::function<void()> wake) {
  std::lock_guard<std::recursive_mutex> hold(list_lock_);
  wake_ = std::move(wake);
  runner_ = std::this_thread::get_id();
  wake_pending_ = false;
}

void Task_Queue::cancel_tasks(const void* owner) {
  const auto remove_owner = [&] {
    std::lock_guard<std::recursive_mutex> list(list_lock_);
    tasks_.erase(std::remove_if(tasks_.begin(), tasks_.end(),
                                [&](const Entry& e) { return e.owner == owner; }),
                 tasks_.end());
  };
  // First out of the queue, so that nothing of the owner starts while this
  // waits: the run lock is not fair, and a busy run could take it again
  // and again before this thread gets it.
  remove_owner();
  // Then wait for a callback that is running, and drop what was posted
  // meanwhile.
  std::lock_guard<std::recursive_mutex> run(run_lock_);
  remove_owner();
}

void Task_Queue::run_tasks() {
  const timestamp_auto started;
  {
    // Posts from here on wake the runner again.
    std::lock_guard<std::recursive_mutex> list(list_lock_);
    wake_pending_ = false;
  }
  for (;;) {
    // The run lock stays held while the task runs, which is what makes a
    // cancel on another thread wait for it.
    std::lock_guard<std::recursive_mutex> run(run_lock_);
    Entry next;
    {
      std::lock_guard<std::recursive_mutex> list(list_lock_);
      if (tasks_.empty()) return;
      next = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (next.callback) next.callback();
    if (started.elapsed_milliseconds() > static_cast<int64_t>(kRunLimitMs)) return;
  }
}

size_t Task_Queue::size() const {
  std::lock_guard<std::recursive_mutex> hold(list_lock_);
  return tasks_.size();
}

}  // namespace Core_Common
