#include "support/pdu_inbox.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace Test_Support {

void Pdu_Inbox::on_pdu(const uint8_t* pdu, size_t size, Core_IPC::Guid source) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    queue_.push_back({std::vector<uint8_t>(pdu, pdu + size), source});
  }
  arrived_.notify_all();
}

bool Pdu_Inbox::accept(const uint8_t* pdu, size_t size) {
  const size_t n = sizeof kRefusePrefix - 1;
  return !(size >= n && std::memcmp(pdu, kRefusePrefix, n) == 0);
}

std::optional<Received_Pdu> Pdu_Inbox::wait_next(unsigned timeout_ms) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                         [this] { return !queue_.empty(); })) {
    return std::nullopt;
  }
  Received_Pdu next = std::move(queue_.front());
  queue_.pop_front();
  return next;
}

uint32_t digest(const uint8_t* bytes, size_t size) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 16777619u;
  return h;
}

std::string receipt_for(const uint8_t* bytes, size_t size) {
  char text[48];
  std::snprintf(text, sizeof text, "got:%zu:%08x", size, static_cast<unsigned>(digest(bytes, size)));
  return text;
}

}  // namespace Test_Support
