// Base of every locally served interface. A stub must answer each call
// that comes with a Respond_Data (through respond()), or its caller times
// out. Calls may arrive on several worker threads at once.
#pragma once

#include <cstdint>
#include <memory>

#include "ipc/call_record.h"
#include "ipc/pdu.h"

namespace Core_IPC {

class Local_Procedure_Stub {
 public:
  Local_Procedure_Stub() = default;
  // Unregisters the stub.
  virtual ~Local_Procedure_Stub();

  Local_Procedure_Stub(const Local_Procedure_Stub&) = delete;
  Local_Procedure_Stub& operator=(const Local_Procedure_Stub&) = delete;

  // The return value is not used by the channel.
  virtual bool dispatch(uint32_t method_id, const Argument_List& arguments,
                        std::unique_ptr<Respond_Data> respond) = 0;

  uint32_t interface_id() const { return interface_id_; }

 private:
  friend class IPC_Service_Point;
  uint32_t interface_id_ = 0;
};

}  // namespace Core_IPC
