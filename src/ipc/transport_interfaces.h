// The pure interfaces of the transport's two upper layers, and what the
// detector's owner (the dialogue layer) must offer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipc/guid.h"
#include "ipc/medium_message.h"

namespace Core_IPC {

class Transport_Medium_Int {
 public:
  virtual bool valid() const = 0;
  // Called by the receive thread when the notify or wake-all event fires.
  virtual void on_notify() = 0;
  virtual bool send(const uint8_t* bytes, size_t length, const Guid& destination,
                    uint32_t timeout_ms) = 0;
  virtual bool start() = 0;
  virtual bool accept(const Medium_Message& message) = 0;
  virtual ~Transport_Medium_Int() = default;
};

class Transport_Detector_Int {
 public:
  virtual bool valid() const = 0;
  // Delivers a received Route_Envelope that was accepted.
  virtual void on_receive(const uint8_t* envelope, size_t size) = 0;
  virtual bool send(const uint8_t* pdu, size_t length, const Guid& destination,
                    uint32_t timeout_ms) = 0;
  virtual bool start() = 0;
  // Whether the envelope's PDU is wanted; only then is it acknowledged.
  virtual bool accept(const uint8_t* envelope, size_t size) = 0;
  virtual ~Transport_Detector_Int() = default;
};

class Transport_Detector_Owner {
 public:
  virtual void on_pdu(const uint8_t* pdu, size_t size, Guid source) = 0;
  virtual bool accept(const uint8_t* pdu, size_t size) = 0;

 protected:
  ~Transport_Detector_Owner() = default;
};

}  // namespace Core_IPC
