// plugin_Drovan.exe as the main client and the user start it: each test
// copies the host and the sample plug-in into a fresh directory, starts
// real processes and reads what the plug-in logged.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/host_names.h"
#include "host/installer_settings.h"
#include "host/single_instance.h"
#include "support/child_process.h"
#include "support/host_sandbox.h"

namespace Plugin_Host {
namespace {

using Test_Support::Child_Process;
using Test_Support::Host_Sandbox;
using Test_Support::read_file;
using Test_Support::program_dir;
namespace fs = std::filesystem;

constexpr DWORD kStartMs = 15000;

struct Window_Search {
  DWORD process;
  const wchar_t* class_name;
  HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Window_Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  if (owner != search->process || wcscmp(name, search->class_name) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK append_text(HWND child, LPARAM data) {
  wchar_t text[256] = {};
  ::GetWindowTextW(child, text, 256);
  *reinterpret_cast<std::wstring*>(data) += std::wstring(text) + L"|";
  return TRUE;
}

// A top-level window of the process with the class, within `ms`.
HWND window_of(const Child_Process& child, const wchar_t* class_name, DWORD ms) {
  Window_Search search{child.id(), class_name, nullptr};
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    ::EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    ::Sleep(50);
  } while (std::chrono::steady_clock::now() < end);
  return nullptr;
}

// Every child's text, joined with "|".
std::wstring child_texts(HWND window) {
  std::wstring texts;
  ::EnumChildWindows(window, append_text, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// UTF-8 bytes widened one by one, as some senders pass a link.
std::wstring widened(const std::string& bytes) {
  std::wstring text;
  for (unsigned char byte : bytes) text.push_back(byte);
  return text;
}

class HostProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kReleaseKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kBetaKey);
  }
};

void expect_wrong_use_message(const std::wstring& text) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"/HOST");
  const HWND box = window_of(*host, L"#32770", kStartMs);
  ASSERT_NE(box, nullptr);
  // The box may be found before its text is in place.
  std::wstring texts;
  for (int waited = 0; waited < 10000; waited += 50) {
    texts = child_texts(box);
    if (texts.find(text) != std::wstring::npos) break;
    ::Sleep(50);
  }
  EXPECT_NE(texts.find(text), std::wstring::npos);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(host->wait(kStartMs), 0u);
  EXPECT_TRUE(sandbox.calls().empty());  // the plug-in was never loaded
  EXPECT_FALSE(sandbox.ready_within(0));
}

TEST_F(HostProcessTest, AWrongFirstArgumentShowsTheMessageAndEnds) {
  if (::GetUserDefaultLangID() == 2052) GTEST_SKIP() << "an English user's test";
  expect_wrong_use_message(L"This program is used to run Orbwell plugins.");
}

// Wine takes the user's language from LC_ALL when its first process starts;
// ctest runs this case once more with LC_ALL=zh_CN.UTF-8.
TEST_F(HostProcessTest, TheWrongUseMessageIsChineseForAChineseUser) {
  if (::GetUserDefaultLangID() != 2052) GTEST_SKIP() << "needs LC_ALL=zh_CN.UTF-8";
  expect_wrong_use_message(L"本程序用于运行Orbwell插件。");
}

TEST_F(HostProcessTest, AStartWithoutArgumentsShowsThePlugin) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  EXPECT_TRUE(sandbox.call_within("slot 24 1", 15000));
  EXPECT_TRUE(sandbox.has_call("slot 17 0 0 0 0"));
  EXPECT_TRUE(host->running());
}

TEST_F(HostProcessTest, AFirstStartWithALinkOpensItAfterLoadingAndShowsThePlugin) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"magnet://first");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  ASSERT_TRUE(sandbox.call_within("slot 24 1", 15000));
  const auto calls = sandbox.calls();
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 3, calls.begin() + 7),
            (std::vector<std::string>{"slot 17 0 0 0 0", "slot 2", "slot 15 magnet://first", "slot 24 1"}));
}

TEST_F(HostProcessTest, ASecondStartWithoutArgumentsBringsTheRunningPluginForward) {
  Host_Sandbox sandbox("");
  auto first = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  auto second = sandbox.start(L"");
  EXPECT_EQ(second->wait(kStartMs), 0u);
  EXPECT_TRUE(sandbox.ready_within(0));
  EXPECT_TRUE(sandbox.call_within("slot 24 1", 15000));
  EXPECT_TRUE(first->running());
}

TEST_F(HostProcessTest, ASecondStartWithHostSetsTheReadyEventAndEnds) {
  Host_Sandbox sandbox("");
  auto first = sandbox.start(L"/host /tcp_port=6881 /udp_port=6882x");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  EXPECT_EQ(sandbox.calls(), (std::vector<std::string>{
                                 "fill", "slot 0 agreed",
                                 "slot 25 {C7BD0F78-136E-4b06-9D9D-30E5DC357C72}_PluginMsgSink 111",
                                 "slot 17 0 0 6881 6882", "slot 2"}));

  auto second = sandbox.start(L"/host");
  EXPECT_EQ(second->wait(kStartMs), 0u);
  EXPECT_TRUE(sandbox.ready_within(0));
  EXPECT_TRUE(first->running());
  ::Sleep(300);  // a show request would have run by now
  EXPECT_FALSE(sandbox.has_call("slot 24 1"));
}

TEST_F(HostProcessTest, ASecondStartWithALinkHandsItToTheRunningPluginDecodedOrAsGiven) {
  Host_Sandbox sandbox("");
  auto first = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));

  const std::string link = "magnet://caf\xC3\xA9-\xE4\xB8\xAD";
  auto second = sandbox.start(L"\"" + widened(link) + L"\"");
  EXPECT_EQ(second->wait(kStartMs), 0u);
  EXPECT_TRUE(sandbox.has_call("slot 15 " + link));
  EXPECT_TRUE(sandbox.call_within("slot 24 1", 15000));
  EXPECT_FALSE(sandbox.ready_within(0));  // handing over a link does not set it

  // Not UTF-8 (Latin-1 units): the link arrives as it was given.
  auto third = sandbox.start(widened("link://caf\xE9"));
  EXPECT_EQ(third->wait(kStartMs), 0u);
  EXPECT_TRUE(sandbox.has_call("slot 15 link://caf\xC3\xA9"));
  // Text that is already proper arrives unchanged.
  auto fourth = sandbox.start(L"link://\x4E2D\x6587");
  EXPECT_EQ(fourth->wait(kStartMs), 0u);
  EXPECT_TRUE(sandbox.has_call("slot 15 link://\xE4\xB8\xAD\xE6\x96\x87"));
  EXPECT_TRUE(first->running());
}

TEST_F(HostProcessTest, CopiedDataIsReadWithinItsByteCount) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  const HWND window = find_running_host();
  ASSERT_NE(window, nullptr);

  // Eight bytes of a longer text without terminator: four characters.
  const wchar_t text[] = L"link://abcdef";
  COPYDATASTRUCT data{0, 8, const_cast<wchar_t*>(text)};
  EXPECT_EQ(::SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), TRUE);
  EXPECT_TRUE(sandbox.has_call("slot 15 link"));
  // No data at all is an empty link.
  COPYDATASTRUCT empty{0, 0, nullptr};
  EXPECT_EQ(::SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty)), TRUE);
  EXPECT_TRUE(sandbox.has_call("slot 15 "));
  EXPECT_TRUE(host->running());
}

TEST_F(HostProcessTest, TheHeartbeatRunsAPostedShowRequestWithinATick) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  const HWND window = find_running_host();
  ASSERT_NE(window, nullptr);
  // A probe changes nothing; a request to show posts the show task, which
  // the next 100 ms tick runs.
  DWORD_PTR answer = 0;
  ::SendMessageTimeoutW(window, where_are_you_message(), 0, 0, SMTO_BLOCK, 5000, &answer);
  EXPECT_EQ(answer, where_are_you_message());
  ::Sleep(300);
  EXPECT_FALSE(sandbox.has_call("slot 24 1"));
  const auto sent = std::chrono::steady_clock::now();
  ::SendMessageTimeoutW(window, where_are_you_message(), 1, 0, SMTO_BLOCK, 5000, &answer);
  ASSERT_TRUE(sandbox.call_within("slot 24 1", 15000));
  // About one tick; the bound leaves room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(1000));
}

// The running host takes the link, then stays inside the plug-in for 25 s:
// the second start gives up waiting within its bound and ends.
TEST_F(HostProcessTest, ASecondStartEndsWithinItsBoundWhileTheHostIsBusyWithItsLink) {
  Host_Sandbox sandbox("sleep_slot=15\nsleep_ms=25000\n");
  auto first = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  const auto begun = std::chrono::steady_clock::now();
  auto second = sandbox.start(L"link://busy");
  EXPECT_EQ(second->wait(20000), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(16));
  EXPECT_TRUE(sandbox.has_call("slot 15 link://busy"));
  EXPECT_TRUE(first->running());
}

TEST_F(HostProcessTest, AHungRunningHostIsTreatedAsAbsent) {
  Host_Sandbox sandbox("sleep_slot=24\nsleep_ms=30000\n");
  auto first = sandbox.start(L"");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  ASSERT_TRUE(sandbox.call_within("slot 24 1", 15000));  // its main thread now sleeps

  const auto begun = std::chrono::steady_clock::now();
  auto second = sandbox.start(L"");
  EXPECT_EQ(second->wait(30000), 0u);
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_LT(took, std::chrono::seconds(12));
  EXPECT_TRUE(sandbox.ready_within(0));
  EXPECT_TRUE(first->running());
}

TEST_F(HostProcessTest, AFreshInstallCarriesTheInstallerLanguageIntoTheSettings) {
  Host_Sandbox sandbox("");
  HKEY release = nullptr, beta = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_CURRENT_USER, kReleaseKey, &release), ERROR_SUCCESS);
  ASSERT_EQ(::RegCreateKeyW(HKEY_CURRENT_USER, kBetaKey, &beta), ERROR_SUCCESS);
  const DWORD one = 1, zero = 0;
  ::RegSetValueExW(beta, L"NewInstall", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  ::RegSetValueExW(release, L"NewInstall", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
  const wchar_t language[] = L"2052";
  ::RegSetValueExW(release, L"Installer Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(language),
                   sizeof language);
  fs::create_directories(sandbox.dir() / "config");
  std::ofstream(sandbox.dir() / "config" / "preferences.ini", std::ios::binary)
      << "[Drovan]\r\n\r\n  Language=1033\r\nPort=1\r\n";

  auto host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  EXPECT_EQ(read_file(sandbox.dir() / "config" / "preferences.ini"), "[Drovan]\r\nLanguage=2052\r\nPort=1");
  for (HKEY key : {release, beta}) {
    EXPECT_EQ(::RegQueryValueExW(key, L"NewInstall", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    ::RegCloseKey(key);
  }
  host->kill();

  // Without a file, and with the mark set again: a new file, no final line end.
  ASSERT_EQ(::RegCreateKeyW(HKEY_CURRENT_USER, kReleaseKey, &release), ERROR_SUCCESS);
  ::RegSetValueExW(release, L"NewInstall", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  ::RegCloseKey(release);
  fs::remove_all(sandbox.dir() / "config");
  host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  EXPECT_EQ(read_file(sandbox.dir() / "config" / "preferences.ini"), "[Drovan]\r\nLanguage=2052");
}

TEST_F(HostProcessTest, AnUnknownInstallerLanguageClearsTheMarkAndWritesNothing) {
  Host_Sandbox sandbox("");
  HKEY release = nullptr;
  ASSERT_EQ(::RegCreateKeyW(HKEY_CURRENT_USER, kReleaseKey, &release), ERROR_SUCCESS);
  const DWORD one = 1;
  ::RegSetValueExW(release, L"NewInstall", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  const wchar_t language[] = L"1031";
  ::RegSetValueExW(release, L"Installer Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(language),
                   sizeof language);
  auto host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  EXPECT_FALSE(fs::exists(sandbox.dir() / "config"));
  EXPECT_EQ(::RegQueryValueExW(release, L"NewInstall", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  ::RegCloseKey(release);
}

TEST_F(HostProcessTest, TheHostWindowSwitchShowsTheDialogAndEscEndsTheHost) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"/host /host_wnd=anything");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  const HWND dialog = find_running_host();
  ASSERT_NE(dialog, nullptr);
  wchar_t caption[64] = {};
  ::GetWindowTextW(dialog, caption, 64);
  EXPECT_STREQ(caption, L"PluginHost");
  EXPECT_TRUE(::IsWindowVisible(dialog));

  ::PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(host->wait(kStartMs), 0u);
  const auto calls = sandbox.calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"slot 3", "slot 3", "slot 1"}));
}

TEST_F(HostProcessTest, TheHostDialogStaysHiddenWithoutTheSwitchAndCloseEndsTheHost) {
  Host_Sandbox sandbox("");
  auto host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  const HWND dialog = find_running_host();
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(::IsWindowVisible(dialog));
  ::PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(host->wait(kStartMs), 0u);
}

TEST_F(HostProcessTest, AFailedPluginLoadEndsTheHostWithoutTheReadyEvent) {
  Host_Sandbox refused("handshake=0\n");
  auto host = refused.start(L"/host");
  EXPECT_EQ(host->wait(kStartMs), 0u);
  EXPECT_FALSE(refused.ready_within(0));
  EXPECT_EQ(refused.calls(), (std::vector<std::string>{"fill", "slot 0 agreed"}));

  Host_Sandbox missing("", false);
  host = missing.start(L"/host");
  EXPECT_EQ(host->wait(kStartMs), 0u);
  EXPECT_FALSE(missing.ready_within(0));
}

TEST_F(HostProcessTest, AFailedStartKeepsTheHostWithoutPlugin) {
  Host_Sandbox sandbox("start=0\n");
  auto host = sandbox.start(L"/host");
  ASSERT_TRUE(sandbox.ready_within(kStartMs));
  EXPECT_TRUE(host->running());
  // Unloaded at once: stop, release.
  const auto calls = sandbox.calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"slot 2", "slot 3", "slot 1"}));
}

}  // namespace
}  // namespace Plugin_Host
