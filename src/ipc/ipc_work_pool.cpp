#include "ipc/ipc_work_pool.h"

#include "system/thread_name.h"

namespace Core_IPC {

IPC_Work_Pool::IPC_Work_Pool() {
  for (size_t i = 0; i < kInitialWorkers; ++i) {
    if (auto worker = start_worker()) workers_.push_back(std::move(worker));
  }
}

IPC_Work_Pool::~IPC_Work_Pool() { stop(); }

bool IPC_Work_Pool::stop() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  stopped_ = true;
  for (auto& worker : workers_) {
    worker->stop = true;
    ::SetEvent(worker->wake.get());
  }
  // One deadline for all, so a pool of busy workers still ends in 5000 ms.
  const DWORD start = ::GetTickCount();
  bool all_ended = true;
  for (auto& worker : workers_) {
    const DWORD elapsed = ::GetTickCount() - start;
    all_ended = end_worker(*worker, elapsed < kStopWaitMs ? kStopWaitMs - elapsed : 0) && all_ended;
  }
  workers_.clear();
  return all_ended;
}

std::unique_ptr<IPC_Work_Pool::Worker> IPC_Work_Pool::start_worker() {
  auto worker = std::make_unique<Worker>();
  worker->wake.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!worker->wake) return nullptr;
  worker->thread.reset(::CreateThread(nullptr, 0, &IPC_Work_Pool::worker_main, worker.get(), 0, nullptr));
  if (!worker->thread) return nullptr;
  return worker;
}

bool IPC_Work_Pool::end_worker(Worker& worker, DWORD wait_ms) {
  const bool ended = ::WaitForSingleObject(worker.thread.get(), wait_ms) == WAIT_OBJECT_0;
  if (!ended) ::TerminateThread(worker.thread.get(), 1);
  worker.thread.reset();
  worker.wake.reset();
  return ended;
}

DWORD WINAPI IPC_Work_Pool::worker_main(void* param) {
  Core_Common::set_current_thread_name(L"IPC_work_thread");
  Worker& worker = *static_cast<Worker*>(param);
  while (!worker.stop) {
    if (::WaitForSingleObject(worker.wake.get(), INFINITE) != WAIT_OBJECT_0) return 1;
    if (worker.stop) break;
    Task task;
    {
      std::lock_guard<std::recursive_mutex> hold(worker.lock);
      task = std::move(worker.task);
      worker.task = nullptr;
    }
    if (task) task();
    std::lock_guard<std::recursive_mutex> hold(worker.lock);
    worker.busy = false;
  }
  return 0;
}

bool IPC_Work_Pool::give(Worker& worker, Task& task) {
  std::lock_guard<std::recursive_mutex> hold(worker.lock);
  if (worker.busy) return false;
  worker.busy = true;
  worker.task = std::move(task);
  ::SetEvent(worker.wake.get());
  return true;
}

bool IPC_Work_Pool::post(Task task) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (stopped_) return false;
  for (auto& worker : workers_) {
    if (give(*worker, task)) return true;
  }
  auto worker = start_worker();
  if (!worker) return false;
  give(*worker, task);
  workers_.push_back(std::move(worker));
  return true;
}

size_t IPC_Work_Pool::size() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return workers_.size();
}

}  // namespace Core_IPC
