// Worker threads ("IPC_work_thread") that run incoming requests, so the
// receive thread never does. Three start with the pool; a post that finds
// every worker busy starts another. The pool never shrinks while it lives.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "system/unique_handle.h"

namespace Core_IPC {

class IPC_Work_Pool {
 public:
  using Task = std::function<void()>;

  IPC_Work_Pool();
  ~IPC_Work_Pool();

  IPC_Work_Pool(const IPC_Work_Pool&) = delete;
  IPC_Work_Pool& operator=(const IPC_Work_Pool&) = delete;

  // Hands the task to the first idle worker, or to a new one. Returns false
  // when no worker could be started, or the pool is stopped; the task is
  // then dropped.
  bool post(Task task);

  // Ends every worker: together they get 5000 ms to finish their tasks,
  // then those still running are terminated. False when any was terminated: whatever locks it held stay
  // held. A second call does nothing.
  bool stop();

  size_t size() const;

 private:
  struct Worker {
    Core_Common::Unique_Handle thread;
    Core_Common::Unique_Handle wake;  // auto-reset
    Task task;
    std::atomic<bool> stop{false};
    bool busy = false;
    std::recursive_mutex lock;
  };

  static constexpr size_t kInitialWorkers = 3;
  static constexpr DWORD kStopWaitMs = 5000;

  static std::unique_ptr<Worker> start_worker();
  static DWORD WINAPI worker_main(void* worker);
  static bool give(Worker& worker, Task& task);
  // Waits for a worker told to stop, terminating it after wait_ms.
  static bool end_worker(Worker& worker, DWORD wait_ms);

  mutable std::recursive_mutex lock_;
  bool stopped_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace Core_IPC
