#include "host/command_line.h"

#include <gtest/gtest.h>

namespace Plugin_Host {
namespace {

TEST(CommandLineTest, OnlyTheWholeExactFirstArgumentIsTheHostSwitch) {
  EXPECT_EQ(classify_first_argument({L"host.exe"}), First_Argument::none);
  EXPECT_EQ(classify_first_argument({L"host.exe", L"/host", L"/tcp_port=1"}), First_Argument::host_switch);
  EXPECT_EQ(classify_first_argument({L"host.exe", L"/HOST"}), First_Argument::wrong_use);
  EXPECT_EQ(classify_first_argument({L"host.exe", L"/host "}), First_Argument::wrong_use);
  EXPECT_EQ(classify_first_argument({L"host.exe", L""}), First_Argument::wrong_use);
  EXPECT_EQ(classify_first_argument({L"host.exe", L"magnet://x"}), First_Argument::link);
  EXPECT_EQ(classify_first_argument({L"host.exe", L"see http://a"}), First_Argument::link);
  // Only the first argument counts.
  EXPECT_EQ(classify_first_argument({L"host.exe", L"/show", L"/host"}), First_Argument::wrong_use);
}

TEST(CommandLineTest, SwitchNumbersConvertTheirWholeRunOrGiveZero) {
  EXPECT_EQ(read_switch_number(L"abc"), 0);
  EXPECT_EQ(read_switch_number(L""), 0);
  EXPECT_EQ(read_switch_number(L"6881x"), 6881);
  EXPECT_EQ(read_switch_number(L"x6881"), 6881);
  EXPECT_EQ(read_switch_number(L"1.5"), 0);
  EXPECT_EQ(read_switch_number(L"70000"), 70000);
  EXPECT_EQ(read_switch_number(L"-12"), -12);
  EXPECT_EQ(read_switch_number(L"--12"), 0);
  EXPECT_EQ(read_switch_number(L"99999999999"), 0);  // out of range
  EXPECT_EQ(read_switch_number(L"12-3"), 12);        // the run stops at the second "-"
}

TEST(CommandLineTest, PortsKeepTheLowSixteenBitsAndTheLastNonZeroWins) {
  Host_Switches s = read_host_switches({L"host.exe", L"/host", L"/tcp_port=abc", L"/udp_port=6881x"});
  EXPECT_EQ(s.tcp_port, 0);
  EXPECT_EQ(s.udp_port, 6881);
  s = read_host_switches({L"host.exe", L"/host", L"/tcp_port=70000", L"/udp_port=1.5"});
  EXPECT_EQ(s.tcp_port, 4464);
  EXPECT_EQ(s.udp_port, 0);
  s = read_host_switches({L"host.exe", L"/tcp_port=10", L"/tcp_port=20", L"/tcp_port=0"});
  EXPECT_EQ(s.tcp_port, 20);
  // Read from the switch's length on, wherever in the element it stands.
  s = read_host_switches({L"host.exe", L"ab/tcp_port=7"});
  EXPECT_EQ(s.tcp_port, 7);
}

TEST(CommandLineTest, FlagsComeFromAnyElementAndAStartWithoutArgumentsShowsThePlugin) {
  Host_Switches s = read_host_switches({L"host.exe"});
  EXPECT_TRUE(s.show_plugin);
  EXPECT_FALSE(s.debug);

  s = read_host_switches({L"host.exe", L"/host"});
  EXPECT_FALSE(s.show_plugin);
  EXPECT_FALSE(s.show_host_window);

  s = read_host_switches({L"host.exe", L"/host", L"/debug"});
  EXPECT_TRUE(s.debug);
  EXPECT_TRUE(s.show_plugin);

  s = read_host_switches({L"host.exe", L"/host", L"/host_wnd=anything"});
  EXPECT_TRUE(s.show_host_window);
  EXPECT_FALSE(s.show_plugin);

  s = read_host_switches({L"C:\\x/show\\host.exe", L"/host"});
  EXPECT_TRUE(s.show_plugin);
}

}  // namespace
}  // namespace Plugin_Host
