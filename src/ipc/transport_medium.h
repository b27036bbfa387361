// Framing, writer locking and acknowledgement of the shared-memory
// channel. A send writes one Medium_Message into the mapping under the
// cross-process writer mutex, sets the receiver's notify event and waits for
// the shared acknowledgement event. The receive side copies the message
// out, acknowledges it when its owner wants it, then delivers it.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

#include "ipc/data_notify_watch.h"
#include "ipc/data_transport_control.h"
#include "ipc/transport_interfaces.h"
#include "system/unique_handle.h"
#include "system/win32_kernel_object.h"

namespace Core_IPC {

class Transport_Medium final : public Transport_Medium_Int {
 public:
  Transport_Medium(Transport_Detector_Int* owner, const Guid& own_endpoint);
  ~Transport_Medium() override;

  Transport_Medium(const Transport_Medium&) = delete;
  Transport_Medium& operator=(const Transport_Medium&) = delete;

  bool valid() const override { return valid_; }
  void on_notify() override;
  // The time-out is not used: the waits of a send are fixed.
  bool send(const uint8_t* bytes, size_t length, const Guid& destination,
            uint32_t timeout_ms) override;
  bool start() override;
  bool accept(const Medium_Message& message) override;

  // Ends the receive thread; sends still work. For an orderly teardown:
  // no message arrives after this returns. False when the thread had to be
  // terminated.
  bool stop_receiving();

 private:
  // The notify events of the endpoints this process sends to, opened once
  // and kept, as an open and a close by name cost two server calls a send.
  // Holding one keeps the event in existence for an endpoint that restarts
  // under the same id, which then opens this same event. Only touched
  // while the writer mutex is held.
  struct Notify_Event {
    Guid endpoint;
    Core_Common::Unique_Handle event;
  };
  static constexpr size_t kKeptNotifyEvents = 16;
  static constexpr uint32_t kNotifyDrainLimitMs = 1000;
  static constexpr DWORD kReceiveStopMs = 5000;

  Guid new_message_id();
  void build(const Guid& own_endpoint);
  // Drains the endpoint's notify event (for at most a second) and sets it.
  void signal_endpoint(const Guid& destination);
  void forget_endpoint(const Guid& destination);

  std::mutex id_lock_;
  std::mutex last_id_lock_;
  Guid last_message_id_;
  Core_Common::Unique_Handle writer_mutex_;
  Core_Common::Adapt_Win32_Event acknowledge_event_;
  Core_Common::Adapt_Win32_Event wake_all_event_;
  bool valid_ = true;
  std::unique_ptr<Data_Transport_Control> mapping_;
  std::unique_ptr<Data_Notify_Watch> watch_;
  std::vector<Notify_Event> notify_events_;
  Transport_Detector_Int* owner_;
};

}  // namespace Core_IPC
