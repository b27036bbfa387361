#include "bridge/host_callbacks.h"

#include <atomic>

namespace Core_Drovan {

namespace {

std::atomic<InterfaceDrovan_Callback*> g_liveness_probe{nullptr};
std::atomic<InterfaceDrovanPlugin_CallBack*> g_host_window_callback{nullptr};

}  // namespace

void install_liveness_probe(InterfaceDrovan_Callback* probe) { g_liveness_probe = probe; }
InterfaceDrovan_Callback* liveness_probe() { return g_liveness_probe; }

void install_host_window_callback(InterfaceDrovanPlugin_CallBack* callback) {
  g_host_window_callback = callback;
}
InterfaceDrovanPlugin_CallBack* host_window_callback() { return g_host_window_callback; }

}  // namespace Core_Drovan
