// Feeds arbitrary bytes to the PDU and Call_Record readers, as the
// dialogue and procedure layers receive them. Buffers are exact-size so any
// read outside trips AddressSanitizer.
#include <cstdint>
#include <cstring>
#include <memory>

#include "ipc/call_record.h"
#include "ipc/pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Core_IPC;
  auto bytes = std::make_unique<uint8_t[]>(size);
  if (size != 0) std::memcpy(bytes.get(), data, size);

  // As a whole PDU, then its payload as a record; and the bytes as a
  // record directly.
  const uint8_t* record = bytes.get();
  size_t record_size = size;
  if (const auto pdu = decode_pdu(bytes.get(), size)) {
    record = pdu->payload;
    record_size = pdu->payload_size;
  }
  const auto read = read_call_record(record, record_size);
  const auto interface_id = call_record_interface(record, record_size);
  if (read.has_value() != interface_id.has_value()) __builtin_trap();
  if (!read) return 0;
  if (read->interface_id != *interface_id) __builtin_trap();

  // A record that reads back must rebuild to one that reads the same.
  const auto rebuilt = build_call_record(read->method_id, read->interface_id, read->status,
                                         read->arguments);
  const auto again = read_call_record(rebuilt.data(), rebuilt.size());
  if (!again || again->arguments != read->arguments) __builtin_trap();
  return 0;
}
