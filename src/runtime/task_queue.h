// Callbacks posted from any thread and run in order on the thread that
// calls run_tasks (the host's main thread), at most about a second's worth
// per run.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace Core_Common {

class Task_Queue {
 public:
  using Callback = std::function<void()>;

  static constexpr uint64_t kRunLimitMs = 1000;

  // `owner` only names the task for cancel_tasks.
  void post_task(const void* owner, Callback callback);
  // Removes the owner's queued tasks; when one of them is running on
  // another thread, returns only after it has finished.
  void cancel_tasks(const void* owner);
  // Runs tasks in posting order until the queue is empty or a task ends
  // more than kRunLimitMs after the run began.
  void run_tasks();

  size_t size() const;

 private:
  struct Entry {
    const void* owner;
    Callback callback;
  };

  // Lock order: run lock, then list lock.
  std::recursive_mutex run_lock_;
  std::deque<Entry> tasks_;
  mutable std::recursive_mutex list_lock_;
};

}  // namespace Core_Common
