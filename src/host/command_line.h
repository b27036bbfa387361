// The host's two readings of its command line. The first argument decides
// whether the host runs at all; the switches, searched in every element,
// give the ports and the display flags.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Plugin_Host {

enum class First_Argument {
  none,         // started without arguments, by the user
  host_switch,  // "/host", exactly: started by the main client
  link,         // contains "://"
  wrong_use,    // anything else: the host refuses to run
};

// `arguments` is the whole argument vector, the program path first.
First_Argument classify_first_argument(const std::vector<std::wstring>& arguments);

// The number after a port switch: the run that starts at the first of
// "-0123456789." and continues over "0123456789.", converted whole to a
// signed 32-bit value; 0 when there is no run or it does not convert.
int32_t read_switch_number(std::wstring_view text);

struct Host_Switches {
  uint16_t tcp_port = 0;
  uint16_t udp_port = 0;
  bool debug = false;             // "/debug"
  bool show_plugin = false;       // "/show", "/debug", or no arguments
  bool show_host_window = false;  // "/host_wnd", whatever follows it
};

// Searches every element, the program path included, for each switch as a
// substring; the last non-zero port read wins.
Host_Switches read_host_switches(const std::vector<std::wstring>& elements);

}  // namespace Plugin_Host
