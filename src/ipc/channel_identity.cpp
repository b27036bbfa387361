#include "ipc/channel_identity.h"

#include <mutex>

namespace Core_IPC {

namespace {

struct Identity {
  std::mutex lock;
  Guid id;
};

Identity& identity() {
  static Identity instance;
  return instance;
}

}  // namespace

void set_own_endpoint_id(const Guid& id) {
  std::lock_guard<std::mutex> hold(identity().lock);
  identity().id = id;
}

Guid own_endpoint_id() {
  std::lock_guard<std::mutex> hold(identity().lock);
  return identity().id;
}

}  // namespace Core_IPC
