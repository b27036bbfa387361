// An owner for a Transport_Detector that queues every delivered PDU, so a
// test (or a test peer) can wait for what arrives.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ipc/transport_interfaces.h"

namespace Test_Support {

struct Received_Pdu {
  std::vector<uint8_t> bytes;
  Core_IPC::Guid source;

  std::string text() const { return std::string(bytes.begin(), bytes.end()); }
};

class Pdu_Inbox : public Core_IPC::Transport_Detector_Owner {
 public:
  // PDUs that begin with this text are refused (neither acknowledged nor
  // delivered).
  static constexpr char kRefusePrefix[] = "refuse";

  void on_pdu(const uint8_t* pdu, size_t size, Core_IPC::Guid source) override;
  bool accept(const uint8_t* pdu, size_t size) override;

  std::optional<Received_Pdu> wait_next(unsigned timeout_ms);

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<Received_Pdu> queue_;
};

// FNV-1a over the bytes: what the test peer reports about a PDU it got.
uint32_t digest(const uint8_t* bytes, size_t size);

// The peer's answer to a PDU: "got:<size>:<digest in hex>".
std::string receipt_for(const uint8_t* bytes, size_t size);

}  // namespace Test_Support
