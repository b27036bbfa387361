#include "ipc/ipc_work_pool.h"

#include "system/thread_name.h"

namespace Core_IPC {

IPC_Work_Pool::IPC_Work_Pool() {
  for (size_t i = 0; i < kInitialWorkers; ++i) {
    if (auto worker = start_worker()) workers_.push_back(std::move(worker));
  }
}

IPC_Work_Pool::~IPC_Work_Pool() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (auto& worker : workers_) stop_worker(*worker);
  workers_.clear();
}

std::unique_ptr<IPC_Work_Pool::Worker> IPC_Work_Pool::start_worker() {
  auto worker = std::make_unique<Worker>();
  worker->wake.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!worker->wake) return nullptr;
  worker->thread.reset(::CreateThread(nullptr, 0, &IPC_Work_Pool::worker_main, worker.get(), 0, nullptr));
  if (!worker->thread) return nullptr;
  return worker;
}

void IPC_Work_Pool::stop_worker(Worker& worker) {
  worker.stop = true;
  ::SetEvent(worker.wake.get());
  if (::WaitForSingleObject(worker.thread.get(), kStopWaitMs) != WAIT_OBJECT_0) {
    ::TerminateThread(worker.thread.get(), 1);
  }
  worker.thread.reset();
  worker.wake.reset();
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
