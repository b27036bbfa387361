// Callbacks posted from any thread and run in order on the thread that
// calls run_tasks (the host's main thread), at most about a second's worth
// per run.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Core_Common {

class Task_Queue {
 public:
  using Callback = std::function<void()>;

  static constexpr uint64_t kRunLimitMs = 1000;

  // `owner` only names the task for cancel_tasks. A task posted from a
  // thread other than the runner's calls the wake function (see set_wake),
  // at most once until the runner runs again.
  void post_task(const void* owner, Callback callback);
  // `wake` asks the runner's thread (the calling one) to run the queue
  // soon, for example by posting it a window message; it must not block. An
  // empty function stops the waking.
  void set_wake(std::function<void()> wake);
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
  // Under the list lock.
  std::function<void()> wake_;
  std::thread::id runner_;
  bool wake_pending_ = false;
};

}  // namespace Core_Common
