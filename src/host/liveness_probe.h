// drovanCallback: whether the main client and a host run, told by whether
// their instance mutexes exist.
#pragma once

#include "bridge/host_callbacks.h"

namespace Plugin_Host {

class drovanCallback final : public Core_Drovan::InterfaceDrovan_Callback {
 public:
  bool main_client_alive() override;
  bool host_alive() override;

  // The process's probe, installed by the host runtime.
  static drovanCallback& instance();
};

}  // namespace Plugin_Host
