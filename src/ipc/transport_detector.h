// Routing by endpoint id: wraps outgoing PDUs in a Route_Envelope and hands
// incoming ones to the owner when they are meant for this endpoint.
#pragma once

#include <memory>

#include "ipc/transport_interfaces.h"
#include "ipc/transport_medium.h"

namespace Core_IPC {

class Transport_Detector final : public Transport_Detector_Int {
 public:
  // Reads the process's own endpoint id, which must be set before.
  explicit Transport_Detector(Transport_Detector_Owner* owner);
  ~Transport_Detector() override = default;

  bool valid() const override { return medium_ && medium_->valid(); }
  void on_receive(const uint8_t* envelope, size_t size) override;
  bool send(const uint8_t* pdu, size_t length, const Guid& destination,
            uint32_t timeout_ms) override;
  bool start() override { return medium_ && medium_->start(); }
  bool accept(const uint8_t* envelope, size_t size) override;

  bool stop_receiving() { return medium_ == nullptr || medium_->stop_receiving(); }

 private:
  Transport_Detector_Owner* owner_;
  Guid own_endpoint_;
  std::unique_ptr<Transport_Medium> medium_;
};

}  // namespace Core_IPC
