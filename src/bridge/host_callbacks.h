// Two questions and two requests the bridge puts to the process around
// it. The host installs its implementations at start-up; until then, and
// in programs without a host window, the bridge finds none and does
// nothing.
#pragma once

namespace Core_Drovan {

// Whether the two ends of the channel still run. Asked from any thread.
class InterfaceDrovan_Callback {
 public:
  virtual bool main_client_alive() = 0;
  virtual bool host_alive() = 0;

 protected:
  ~InterfaceDrovan_Callback() = default;
};

// What the plug-in may ask of the host window. Main thread only.
class InterfaceDrovanPlugin_CallBack {
 public:
  virtual void close_host() = 0;
  virtual void show_host_window(bool show) = 0;

 protected:
  ~InterfaceDrovanPlugin_CallBack() = default;
};

// The installed objects outlive every use: the host installs static ones.
void install_liveness_probe(InterfaceDrovan_Callback* probe);
InterfaceDrovan_Callback* liveness_probe();
void install_host_window_callback(InterfaceDrovanPlugin_CallBack* callback);
InterfaceDrovanPlugin_CallBack* host_window_callback();

}  // namespace Core_Drovan
