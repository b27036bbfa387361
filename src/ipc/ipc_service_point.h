// The process's end of the channel: owns the procedure invoker (and through
// it the whole channel) and the table of locally served interfaces.
#pragma once

#include <memory>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "ipc/local_procedure_stub.h"
#include "ipc/procedure_invokor.h"

namespace Core_IPC {

class IPC_Service_Point {
 public:
  struct Transmit_Point final : Transmit_Point_Int {
    explicit Transmit_Point(IPC_Service_Point* owner) : owner(owner) {}
    void dispatch(uint32_t method_id, uint32_t interface_id, const Argument_List& arguments,
                  std::unique_ptr<Respond_Data> respond) override;
    bool serves(uint32_t interface_id) override;

    IPC_Service_Point* owner;
  };

  // The process's service point, built (and its channel started) on first
  // use. The own endpoint id must be set before.
  static IPC_Service_Point& instance();
  // The service point if it exists, without building one.
  static IPC_Service_Point* existing();
  // Tears the channel down; a later instance() builds a new one. Calls
  // that run meanwhile may still answer; an answer after it fails.
  static void shut_down();

  ~IPC_Service_Point();

  IPC_Service_Point(const IPC_Service_Point&) = delete;
  IPC_Service_Point& operator=(const IPC_Service_Point&) = delete;

  // Answers a call without result arguments; consumes the Respond_Data.
  virtual bool respond(uint32_t method_id, std::unique_ptr<Respond_Data> respond, uint32_t status,
                       uint32_t timeout_ms);

  bool valid() const { return invokor_->valid(); }
  Procedure_Invokor& invokor() { return *invokor_; }

  void register_stub(Local_Procedure_Stub* stub, uint32_t interface_id);
  void unregister_stub(Local_Procedure_Stub* stub);
  // The table in registration order.
  std::vector<std::pair<uint32_t, Local_Procedure_Stub*>> registered() const;

 private:
  IPC_Service_Point();

  // Ends the channel's threads once (see Dialogue_Control::stop_threads).
  void stop_threads();

  struct Stub_Entry {
    Local_Procedure_Stub* stub;
    uint32_t interface_id;
  };

  Transmit_Point transmit_{this};
  // Shared while calls are dispatched, so several run at once; exclusive
  // while the table changes, so no stub goes while one of its calls runs.
  mutable std::shared_mutex table_lock_;
  std::vector<Stub_Entry> table_;
  std::unique_ptr<Procedure_Invokor> invokor_;
  bool threads_stopped_ = false;
  bool threads_ended_ = false;  // every thread ended by itself
};

}  // namespace Core_IPC
