// The channel's operations for the rest of the program. Every call and
// reply waits at most 5000 ms.
#pragma once

#include <memory>

#include "ipc/call_record.h"
#include "ipc/ipc_service_point.h"

namespace Core_IPC {

inline constexpr uint32_t kCallTimeoutMs = 5000;

// Status values of a call.
enum Call_Status : uint32_t {
  kStatusSuccess = 0,
  kStatusChannelNotValid = 1,
  kStatusWrongArgumentCount = 2,
  kStatusUnknownMethod = 3,
};

IPC_Service_Point& service_point();

// Returns whether the reply came (of either kind); the status is set to 1
// when the channel is not valid and is otherwise unchanged.
bool call(const Service_Address& address, uint32_t& status, uint32_t method_id,
          const Argument_List& arguments);

// Returns true when the reply's status is 0; the reply's status and result
// arguments are handed back.
bool call_with_result(const Service_Address& address, uint32_t& status, uint32_t method_id,
                      const Argument_List& arguments, Argument_List& results);

// Answers a served call; true to the stub whatever the outcome, except
// when the channel is gone (shut down while the call ran).
bool respond(uint32_t method_id, std::unique_ptr<Respond_Data> respond_data, uint32_t status);
// Answers with result arguments (a reply with result and a status).
bool respond_with_arguments(uint32_t method_id, std::unique_ptr<Respond_Data> respond_data,
                            uint32_t status, const Argument_List& results);

void register_stub(Local_Procedure_Stub* stub, uint32_t interface_id);
void unregister_stub(Local_Procedure_Stub* stub);

}  // namespace Core_IPC
