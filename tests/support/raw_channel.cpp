#include "support/raw_channel.h"

#include <windows.h>

#include <cstring>

#include "ipc/channel_names.h"
#include "ipc/medium_message.h"
#include "ipc/route_envelope.h"
#include "system/event_operations.h"
#include "system/unique_handle.h"

namespace Test_Support {

using Core_Common::Unique_Handle;
using namespace Core_IPC;

std::vector<uint8_t> raw_message(const Guid& message_id, const Guid& destination,
                                 const Guid& source, const std::vector<uint8_t>& pdu) {
  const auto envelope = encode_route_envelope(destination, source, pdu.data(), pdu.size());
  return encode_medium_message(message_id, envelope.data(), envelope.size());
}

bool inject_message(const std::vector<uint8_t>& message, const Guid& receiver) {
  Unique_Handle mutex(::CreateMutexW(nullptr, FALSE, kWriterMutexName));
  Unique_Handle mapping(::OpenFileMappingW(FILE_MAP_WRITE, FALSE, kMappingName));
  Unique_Handle ack(::OpenEventW(EVENT_ALL_ACCESS, FALSE, kAcknowledgeEventName));
  Unique_Handle notify(::OpenEventW(EVENT_ALL_ACCESS, FALSE, endpoint_event_name(receiver).c_str()));
  if (!mutex || !mapping || !ack || !notify) return false;

  Core_Common::Mutex_Guard writer(mutex.get(), kWriterMutexWaitMs);
  void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0);
  if (view == nullptr) return false;
  std::memcpy(view, message.data(), message.size());
  ::UnmapViewOfFile(view);
  Core_Common::drain_event(ack.get(), kAcknowledgeWaitMs);
  ::SetEvent(notify.get());
  return ::WaitForSingleObject(ack.get(), kAcknowledgeWaitMs) == WAIT_OBJECT_0;
}

bool wait_for_endpoint(const Guid& endpoint) {
  const std::wstring name = endpoint_event_name(endpoint);
  for (int i = 0; i < 250; ++i) {
    if (Unique_Handle(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()))) return true;
    ::Sleep(20);
  }
  return false;
}

}  // namespace Test_Support
