// Remote procedure calls by interface id and method id, carried as
// Call_Records in dialogue requests and replies.
#pragma once

#include <atomic>
#include <memory>

#include "ipc/call_record.h"
#include "ipc/dialogue_control.h"

namespace Core_IPC {

// Where incoming calls go: the service point's table of served interfaces.
class Transmit_Point_Int {
 public:
  virtual void dispatch(uint32_t method_id, uint32_t interface_id, const Argument_List& arguments,
                        std::unique_ptr<Respond_Data> respond) = 0;
  virtual bool serves(uint32_t interface_id) = 0;

 protected:
  ~Transmit_Point_Int() = default;
};

class Procedure_Invokor_Int {
 public:
  virtual bool valid() const = 0;
  virtual bool call_with_result(uint32_t method_id, const Argument_List& arguments,
                                Argument_List& results, const Guid& destination,
                                uint32_t interface_id, uint32_t& status, uint32_t timeout_ms) = 0;
  virtual bool call(uint32_t method_id, const Argument_List& arguments, const Guid& destination,
                    uint32_t interface_id, uint32_t status, uint32_t timeout_ms) = 0;
  virtual bool reply_with_arguments(uint32_t method_id, const Argument_List& arguments,
                                    std::unique_ptr<Respond_Data> respond, uint32_t status,
                                    uint32_t timeout_ms) = 0;
  virtual bool reply(uint32_t method_id, std::unique_ptr<Respond_Data> respond, uint32_t status,
                     uint32_t timeout_ms) = 0;
  virtual void on_request(const uint8_t* record, size_t size,
                          std::unique_ptr<Respond_Data> respond) = 0;
  virtual uint32_t last_timeout() const = 0;
  virtual bool start() = 0;
  virtual bool serves(const uint8_t* record, size_t size) = 0;
  virtual ~Procedure_Invokor_Int() = default;
};

class Procedure_Invokor final : public Procedure_Invokor_Int, private Dialogue_Owner {
 public:
  explicit Procedure_Invokor(Transmit_Point_Int* transmit);
  ~Procedure_Invokor() override = default;

  bool valid() const override { return dialogue_->valid(); }
  bool call_with_result(uint32_t method_id, const Argument_List& arguments, Argument_List& results,
                        const Guid& destination, uint32_t interface_id, uint32_t& status,
                        uint32_t timeout_ms) override;
  bool call(uint32_t method_id, const Argument_List& arguments, const Guid& destination,
            uint32_t interface_id, uint32_t status, uint32_t timeout_ms) override;
  bool reply_with_arguments(uint32_t method_id, const Argument_List& arguments,
                            std::unique_ptr<Respond_Data> respond, uint32_t status,
                            uint32_t timeout_ms) override;
  bool reply(uint32_t method_id, std::unique_ptr<Respond_Data> respond, uint32_t status,
             uint32_t timeout_ms) override;
  void on_request(const uint8_t* record, size_t size,
                  std::unique_ptr<Respond_Data> respond) override;
  uint32_t last_timeout() const override { return last_timeout_; }
  bool start() override { return dialogue_->start(); }
  bool serves(const uint8_t* record, size_t size) override;

  // Completes a call with a reply that carries no result. The host never
  // answers this way; a peer may.
  bool reply_without_result(std::unique_ptr<Respond_Data> respond, uint32_t timeout_ms);

  size_t worker_count() const { return dialogue_->worker_count(); }
  bool stop_threads() { return dialogue_->stop_threads(); }
  size_t pending_count() const { return dialogue_->pending_count(); }

 private:
  std::atomic<uint32_t> last_timeout_{0xFFFFFFFFu};
  Transmit_Point_Int* transmit_;
  std::unique_ptr<Dialogue_Control> dialogue_;
};

}  // namespace Core_IPC
