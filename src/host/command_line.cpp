#include "host/command_line.h"

#include <charconv>

namespace Plugin_Host {

First_Argument classify_first_argument(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < 2) return First_Argument::none;
  const std::wstring& first = arguments[1];
  if (first == L"/host") return First_Argument::host_switch;
  if (first.find(L"://") != std::wstring::npos) return First_Argument::link;
  return First_Argument::wrong_use;
}

int32_t read_switch_number(std::wstring_view text) {
  const size_t begin = text.find_first_of(L"-0123456789.");
  if (begin == std::wstring_view::npos) return 0;
  size_t end = text.find_first_not_of(L"0123456789.", begin + 1);
  if (end == std::wstring_view::npos) end = text.size();

  // Every character of the run is ASCII, so narrowing keeps it.
  std::string run;
  for (const wchar_t c : text.substr(begin, end - begin)) run.push_back(static_cast<char>(c));
  int32_t value = 0;
  const auto [stop, error] = std::from_chars(run.data(), run.data() + run.size(), value);
  if (error != std::errc() || stop != run.data() + run.size()) return 0;
  return value;
}

namespace {

// A port switch's number is read from the switch's length onwards in the
// element, wherever in the element the switch was found.
void read_port(const std::wstring& element, std::wstring_view name, uint16_t& port) {
  if (element.find(name) == std::wstring::npos) return;
  const int32_t value = read_switch_number(std::wstring_view(element).substr(name.size()));
  if (value != 0) port = static_cast<uint16_t>(value);
}

bool contains(const std::wstring& element, std::wstring_view name) {
  return element.find(name) != std::wstring::npos;
}

}  // namespace

Host_Switches read_host_switches(const std::vector<std::wstring>& elements) {
  Host_Switches switches;
  for (const std::wstring& element : elements) {
    read_port(element, L"/tcp_port=", switches.tcp_port);
    read_port(element, L"/udp_port=", switches.udp_port);
    if (contains(element, L"/debug")) switches.debug = switches.show_plugin = true;
    if (contains(element, L"/show")) switches.show_plugin = true;
    if (contains(element, L"/host_wnd")) switches.show_host_window = true;
  }
  if (elements.size() == 1) switches.show_plugin = true;
  return switches;
}

}  // namespace Plugin_Host
