// Dialogues over the transport: a request waits for the reply that carries
// its dialogue id; incoming requests run on the work pool and are answered
// to their source.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ipc/ipc_work_pool.h"
#include "ipc/pdu.h"
#include "ipc/transport_detector.h"
#include "system/unique_handle.h"

namespace Core_IPC {

// What the layer above (the procedure invoker) offers the dialogues.
class Dialogue_Owner {
 public:
  // Runs on a worker thread. `respond` is null when no reply is wanted.
  virtual void on_request(const uint8_t* payload, size_t size,
                          std::unique_ptr<Respond_Data> respond) = 0;
  // Runs on the receive thread: whether a request is for a served interface.
  virtual bool serves(const uint8_t* payload, size_t size) = 0;

 protected:
  ~Dialogue_Owner() = default;
};

class Dialogue_Control_Int {
 public:
  virtual bool valid() const = 0;
  virtual bool request(const uint8_t* payload, size_t size, const Guid& destination,
                       uint32_t timeout_ms) = 0;
  virtual void on_pdu(const uint8_t* pdu, size_t size, Guid source) = 0;
  virtual bool request_with_result(const uint8_t* payload, size_t size, std::vector<uint8_t>& result,
                                   const Guid& destination, uint32_t timeout_ms) = 0;
  virtual bool reply_without_result(const uint8_t* payload, size_t size,
                                    std::unique_ptr<Respond_Data> respond, uint32_t timeout_ms) = 0;
  virtual bool reply_with_result(const uint8_t* payload, size_t size,
                                 std::unique_ptr<Respond_Data> respond, uint32_t timeout_ms) = 0;
  virtual bool start() = 0;
  virtual bool accept(const uint8_t* pdu, size_t size) = 0;
  virtual ~Dialogue_Control_Int() = default;
};

class Dialogue_Control final : public Dialogue_Control_Int, private Transport_Detector_Owner {
 public:
  using PDU = Core_IPC::PDU;
  using Respond_Data = Core_IPC::Respond_Data;

  explicit Dialogue_Control(Dialogue_Owner* owner);
  ~Dialogue_Control() override;

  Dialogue_Control(const Dialogue_Control&) = delete;
  Dialogue_Control& operator=(const Dialogue_Control&) = delete;

  bool valid() const override { return detector_ && detector_->valid(); }
  bool request(const uint8_t* payload, size_t size, const Guid& destination,
               uint32_t timeout_ms) override;
  void on_pdu(const uint8_t* pdu, size_t size, Guid source) override;
  bool request_with_result(const uint8_t* payload, size_t size, std::vector<uint8_t>& result,
                           const Guid& destination, uint32_t timeout_ms) override;
  bool reply_without_result(const uint8_t* payload, size_t size,
                            std::unique_ptr<Respond_Data> respond, uint32_t timeout_ms) override;
  bool reply_with_result(const uint8_t* payload, size_t size, std::unique_ptr<Respond_Data> respond,
                         uint32_t timeout_ms) override;
  bool start() override { return detector_ && detector_->start(); }
  bool accept(const uint8_t* pdu, size_t size) override;

  size_t worker_count() const { return pool_.size(); }
  // Requests of this process waiting for their replies.
  size_t pending_count() const;

  // Ends the receive thread, then the workers, while everything they use
  // still exists; replies can still be sent meanwhile. False when a thread
  // had to be terminated (see IPC_Work_Pool::stop).
  bool stop_threads();

 private:
  // One outstanding request of this process. Owned by the requesting
  // thread; the list only points at it.
  struct Pending_Dialogue {
    std::optional<std::vector<uint8_t>> reply;  // payload of a reply with result
    Core_Common::Unique_Handle completion;      // manual-reset
    Guid dialogue_id;
    uint32_t timeout_ms = 0;
  };

  // Keeps a pending entry in the list for its own lifetime.
  class Listing {
   public:
    Listing(Dialogue_Control& control, Pending_Dialogue& entry);
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

   private:
    Dialogue_Control& control_;
    Pending_Dialogue& entry_;
  };

  // A manual-reset event for a request's completion: a spare one of an
  // earlier request, or a new one. Listing resets it.
  Core_Common::Unique_Handle take_completion_event();

  bool run_request(const uint8_t* payload, size_t size, const Guid& destination,
                   uint32_t timeout_ms, std::vector<uint8_t>* result);
  bool reply(uint32_t type, const uint8_t* payload, size_t size,
             std::unique_ptr<Respond_Data> respond, uint32_t timeout_ms);
  bool match_reply(const PDU& pdu);
  Pending_Dialogue* find_locked(const Guid& dialogue_id) const;

  // Lock order: reply lock, then list lock. Taking both to remove an entry
  // keeps a reply that arrives as its caller gives up off freed memory.
  mutable std::mutex list_lock_;
  std::mutex reply_lock_;
  std::vector<Pending_Dialogue*> pending_;
  // Completion events of finished requests, kept for the next ones;
  // guarded by the list lock.
  static constexpr size_t kSpareEvents = 8;
  std::vector<Core_Common::Unique_Handle> spare_events_;
  IPC_Work_Pool pool_;
  std::unique_ptr<Transport_Detector> detector_;
  Dialogue_Owner* owner_;
};

}  // namespace Core_IPC
