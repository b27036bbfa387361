// The real Faultpost.exe, driven as a user would through Win32 messages,
// against the loopback report server (run_reporter_tests.py starts one per
// case and names its state directory in REPORT_STATE_DIR). A stand-in host
// beside the reporter records whether it was restarted. With
// SCREENSHOT_DIR set, the dialogs are saved there as bitmaps.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/host_sandbox.h"
#include "window_capture.h"

namespace Faultpost {
namespace {

using Test_Support::Child_Process;
using Test_Support::program_dir;
using Test_Support::read_file;
namespace fs = std::filesystem;

constexpr wchar_t kAppArgument[] = L"dr20100201plugin_Drovan.exe";
constexpr char kInstallId[] = "0123456789abcdef0123456789abcdef";

bool chinese_user() { return ::GetUserDefaultLangID() == 2052 || ::GetACP() == 936; }
const wchar_t* pick(const wchar_t* english, const wchar_t* chinese) { return chinese_user() ? chinese : english; }

fs::path state_dir() {
  const char* dir = std::getenv("REPORT_STATE_DIR");
  return dir != nullptr ? fs::path(dir) : fs::path();
}

std::wstring widen(const std::string& utf8) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string utf16le(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) bytes += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}

// How long a test waits for what only has to happen, at no given tick: long
// enough for a loaded two-core machine. Checks of the countdowns' ticks keep
// their short bounds; those tests run alone (see tests/CMakeLists.txt).
constexpr DWORD kEventually = 20000;

// Polls `condition` every 50 ms for at most `ms`.
bool within(DWORD ms, const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    ::Sleep(50);
  }
}

// Asked of the window itself: for another process's window GetWindowText
// gives only the name the system keeps, which an edit control does not
// update when its text is set.
std::wstring window_text(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied);
  return text;
}

std::wstring item_text(HWND dialog, int id) { return window_text(::GetDlgItem(dialog, id)); }

struct Search {
  DWORD process;
  const wchar_t* caption;  // null: any dialog of the process
  HWND found;
};

BOOL CALLBACK match_dialog(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[32] = {};
  ::GetClassNameW(window, name, 32);
  if (owner != search->process || wcscmp(name, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
  if (search->caption != nullptr && window_text(window) != search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

HWND find_dialog(const Child_Process& process, const wchar_t* caption, DWORD ms = 15000) {
  Search search{process.id(), caption, nullptr};
  within(ms, [&] {
    ::EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  return search.found;
}

BOOL CALLBACK append_text(HWND child, LPARAM data) {
  *reinterpret_cast<std::wstring*>(data) += window_text(child) + L"|";
  return TRUE;
}

std::wstring all_texts(HWND window) {
  std::wstring texts;
  ::EnumChildWindows(window, append_text, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// The window as a bitmap file in SCREENSHOT_DIR.
void screenshot(HWND window, const char* name) {
  const char* dir = std::getenv("SCREENSHOT_DIR");
  if (dir == nullptr) return;
  Window_Capture::save_client_area(
      window, (fs::path(dir) / (std::string(name) + (chinese_user() ? "_zh" : "_en") + ".bmp")).wstring());
}

// The first tool's text of a tooltip window of another process.
std::wstring tooltip_text(HWND tooltip, DWORD process_id) {
  const HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
  if (process == nullptr) return L"";
  constexpr size_t kChars = 1024;
  auto* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr, sizeof(TOOLINFOW) + kChars * 2,
                                                     MEM_COMMIT, PAGE_READWRITE));
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof(TOOLINFOW));
  ::WriteProcessMemory(process, remote, &tool, sizeof tool, nullptr);
  std::wstring text;
  if (::SendMessageW(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(remote))) {
    ::ReadProcessMemory(process, remote, &tool, sizeof tool, nullptr);
    tool.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof(TOOLINFOW));
    ::WriteProcessMemory(process, remote, &tool, sizeof tool, nullptr);
    ::SendMessageW(tooltip, TTM_GETTEXTW, kChars, reinterpret_cast<LPARAM>(remote));
    wchar_t buffer[kChars] = {};
    ::ReadProcessMemory(process, remote + sizeof(TOOLINFOW), buffer, sizeof buffer - 2, nullptr);
    text = buffer;
  }
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  ::CloseHandle(process);
  return text;
}

struct Tooltip_Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK match_tooltip(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Tooltip_Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  wchar_t name[32] = {};
  ::GetClassNameW(window, name, 32);
  if (owner != search->process || _wcsicmp(name, TOOLTIPS_CLASSW) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

class FaultpostDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // REPORTER_SANDBOX names another folder, a Chinese one say: read wide,
    // since the code page may have no form for it.
    const wchar_t* folder = _wgetenv(L"REPORTER_SANDBOX");
    dir_ = fs::path(program_dir()) / (folder != nullptr && *folder != L'\0' ? folder : L"reporter sandbox");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(fs::path(program_dir()) / "Faultpost.exe", dir_ / "Faultpost.exe");
    fs::copy_file(fs::path(program_dir()) / "faultpost_stand_in.exe", dir_ / "plugin_Drovan.exe");
    std::ofstream(dir_ / "CRASHLOG.DAT", std::ios::binary);
    if (const char* sample = std::getenv("REPORT_SAMPLE_DIR")) {
      // A crash of a known signature, for a server that files reports.
      fs::copy_file(fs::path(sample) / "CRASH.DMP", dir_ / "CRASH.DMP");
      fs::copy_file(fs::path(sample) / "CRASHLOG.TXT", dir_ / "CRASHLOG.TXT");
    } else {
      std::ofstream(dir_ / "CRASH.DMP", std::ios::binary) << std::string(5000, 'd');
      std::ofstream(dir_ / "CRASHLOG.TXT", std::ios::binary)
          << "\xFF\xFE" << utf16le(L"plugin_Drovan caused an Access Violation (0xc0000005) \r\n"
                                   L"Program name: Drovan Plugin\r\ncrash info: \r\n");
    }
    std::ofstream(dir_ / "Orbwell.xml", std::ios::binary)
        << "<Config><ClientInstallID>" << kInstallId << "</ClientInstallID></Config>";
    set_server("current", "ok");
  }

  void set_server(const char* version, const char* report) {
    if (state_dir().empty()) return;
    std::ofstream(state_dir() / "config.json") << "{\"version\": \"" << version << "\", \"report\": \"" << report
                                               << "\"}";
  }

  std::unique_ptr<Child_Process> start(const std::wstring& arguments = kAppArgument) {
    return std::make_unique<Child_Process>((dir_ / "Faultpost.exe").wstring(), arguments);
  }

  size_t requests() const {
    if (state_dir().empty()) return 0;
    const fs::path requests = state_dir() / "requests";
    if (!fs::exists(requests)) return 0;
    return static_cast<size_t>(std::distance(fs::directory_iterator(requests), fs::directory_iterator()));
  }
  bool host_restarted() const { return fs::exists(dir_ / "plugin_Drovan.args"); }
  // The archives the server stored, in the order they came.
  std::vector<std::string> stored_archives() const {
    std::vector<std::string> archives;
    if (state_dir().empty() || !fs::exists(state_dir() / "reports")) return archives;
    std::vector<fs::path> reports;
    for (const auto& entry : fs::directory_iterator(state_dir() / "reports")) reports.push_back(entry.path());
    std::sort(reports.begin(), reports.end());
    for (const auto& report : reports) {
      if (fs::exists(report / "archive")) archives.push_back(read_file(report / "archive"));
    }
    return archives;
  }
  std::vector<fs::path> unsent() const {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(dir_ / "Unsent Reports", error), end; !error && it != end; it.increment(error)) {
      if (it->is_directory()) entries.push_back(it->path());
    }
    return entries;
  }
  // Sends at once, waits for the outcome's text and for `also`, then closes.
  void send_and_expect(Child_Process& reporter, const std::wstring& outcome,
                       const std::function<bool()>& also = [] { return true; }) {
    const HWND dialog = find_dialog(reporter, kAppArgument);
    ASSERT_NE(dialog, nullptr);
    ::SendDlgItemMessageW(dialog, 1016, BM_SETCHECK, BST_UNCHECKED, 0);
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(within(kEventually, [&] { return item_text(dialog, 1007) == outcome; }));
    EXPECT_TRUE(within(kEventually, also));
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(reporter.wait(kEventually), 0u);
  }

  fs::path dir_;
};

TEST_F(FaultpostDialogTest, WithoutAnArgumentItShowsTheUsage) {
  auto reporter = start(L"");
  const HWND box = find_dialog(*reporter, nullptr);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(all_texts(box).find(pick(L"This program is used to send crash report for Drovan plugin when it crashes.",
                                     L"本程序用于在Drovan插件崩溃时发送错误报告。")),
            std::wstring::npos);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(reporter->wait(10000), 0u);
}

TEST_F(FaultpostDialogTest, WithoutADumpItSaysSoAndSendsNothing) {
  fs::remove(dir_ / "CRASH.DMP");
  auto reporter = start();
  const HWND box = find_dialog(*reporter, nullptr);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(all_texts(box).find(pick(L"No error report file found, Send failed.", L"没有找到错误报告文件，发送失败！")),
            std::wstring::npos);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(reporter->wait(10000), 0u);
  EXPECT_EQ(requests(), 0u);
  EXPECT_FALSE(fs::exists(dir_ / "CRASH.ZIP"));
}

TEST_F(FaultpostDialogTest, TheCountdownSendsOnTheEleventhTickAndTheReportArrivesWhole) {
  auto reporter = start();
  const HWND dialog = find_dialog(*reporter, kAppArgument);
  ASSERT_NE(dialog, nullptr);
  const std::wstring send = pick(L"Send Error Report", L"发送错误报告");
  EXPECT_TRUE(within(3000, [&] { return item_text(dialog, IDOK) == send + L" (10)"; }));
  EXPECT_NE(item_text(dialog, 1001).find(pick(L"Drovan Plugin[dr20100201plugin_Drovan.exe] has encountered a problem",
                                              L"Drovan Plugin[dr20100201plugin_Drovan.exe] 遇到问题需要关闭")),
            std::wstring::npos);
  EXPECT_EQ(item_text(dialog, IDCANCEL), pick(L"Don't Send", L"不发送"));
  EXPECT_EQ(item_text(dialog, 1016), pick(L"Restart Drovan plugin", L"重新启动Drovan插件"));
  EXPECT_EQ(item_text(dialog, 1006), pick(L"Describe what you were doing when the error occurred(optional):",
                                          L"请简单描述错误是如何出现的（可选）："));
  screenshot(dialog, "report_dialog");
  ::SetDlgItemTextW(dialog, 1002, pick(L"It broke while adding a caf\x00E9 link", L"添加链接时崩溃了"));
  EXPECT_TRUE(within(5000, [&] { return item_text(dialog, IDOK) == send + L" (5)"; }));
  EXPECT_EQ(requests(), 0u);

  // Ticks 6 to 10 show 5 to 1; the eleventh sends.
  const std::wstring success = pick(L"Submit Finished. Thank you for your support to Drovan plugin.",
                                    L"提交已完成。感谢您对Drovan插件的支持。");
  ASSERT_TRUE(within(15000, [&] { return item_text(dialog, 1007) == success; }));
  EXPECT_EQ(::SendDlgItemMessageW(dialog, 1004, PBM_GETPOS, 0, 0), 100);
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, IDOK)));
  screenshot(dialog, "report_result");

  // What the loopback server stored; a real inbox is checked by its runner.
  if (!state_dir().empty()) {
    const fs::path report = state_dir() / "reports" / "0002";
    ASSERT_TRUE(fs::exists(report / "archive"));
    EXPECT_EQ(read_file(report / "archive"), read_file(dir_ / "CRASH.ZIP"));
    const std::wstring fields = widen(read_file(report / "fields.json"));
    EXPECT_NE(fields.find(L"dr20100201plugin_Drovan.exe"), std::wstring::npos) << fields;
    EXPECT_NE(fields.find(pick(L"It broke while adding a caf\x00E9 link", L"添加链接时崩溃了")), std::wstring::npos)
        << fields;
    EXPECT_NE(fields.find(widen(kInstallId)), std::wstring::npos) << fields;
  }

  // The exit countdown closes the dialog and restarts the host once.
  EXPECT_TRUE(within(3000, [&] { return item_text(dialog, IDCANCEL) == pick(L"Exit (4)", L"退出 (4)"); }));
  EXPECT_EQ(reporter->wait(10000), 0u);
  ASSERT_TRUE(within(kEventually, [&] { return host_restarted(); }));
  EXPECT_EQ(Test_Support::read_lines(dir_ / "plugin_Drovan.args").size(), 1u);
}

TEST_F(FaultpostDialogTest, FocusingTheDescriptionStopsTheCountdown) {
  auto reporter = start();
  const HWND dialog = find_dialog(*reporter, kAppArgument);
  ASSERT_NE(dialog, nullptr);
  const std::wstring send = pick(L"Send Error Report", L"发送错误报告");
  ASSERT_TRUE(within(4000, [&] { return item_text(dialog, IDOK) == send + L" (9)"; }));
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(1002, EN_SETFOCUS),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, 1002)));
  EXPECT_EQ(item_text(dialog, IDOK), send);
  ::Sleep(11000);
  EXPECT_EQ(requests(), 0u);
  EXPECT_EQ(item_text(dialog, IDOK), send);
  // Don't Send, with the box unticked: nothing is sent or started.
  ::SendDlgItemMessageW(dialog, 1016, BM_SETCHECK, BST_UNCHECKED, 0);
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(reporter->wait(10000), 0u);
  EXPECT_FALSE(host_restarted());
  EXPECT_EQ(requests(), 0u);
}

TEST_F(FaultpostDialogTest, AnOutOfDateVersionOpensTheUpdatePromptAndEndsWithoutRestart) {
  set_server("outdated", "ok");
  auto reporter = start();
  const HWND dialog = find_dialog(*reporter, kAppArgument);
  ASSERT_NE(dialog, nullptr);
  ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  const HWND prompt = find_dialog(*reporter, pick(L"New version available", L"版本更新"));
  ASSERT_NE(prompt, nullptr);
  const char* site = std::getenv("DROVAN_REPORT_SITE");
  ASSERT_NE(site, nullptr);
  EXPECT_EQ(item_text(prompt, 1014), widen(site));
  Tooltip_Search search{reporter->id(), nullptr};
  ::EnumWindows(match_tooltip, reinterpret_cast<LPARAM>(&search));
  ASSERT_NE(search.found, nullptr);
  EXPECT_EQ(tooltip_text(search.found, reporter->id()),
            widen(site) + L"/client/faultpost/?app_id=dr20100201plugin_Drovan.exe&l=" + pick(L"us_en", L"zh_cn"));
  EXPECT_TRUE(within(3000, [&] { return item_text(prompt, IDOK) == pick(L"OK (4)", L"确定 (4)"); }));
  screenshot(prompt, "update_prompt");
  EXPECT_EQ(reporter->wait(15000), 0u);
  EXPECT_FALSE(host_restarted());
  EXPECT_FALSE(!state_dir().empty() && fs::exists(state_dir() / "reports" / "0002"));
}

TEST_F(FaultpostDialogTest, AFailedRequestShowsConnectFail) {
  set_server("404", "ok");
  auto reporter = start();
  const HWND dialog = find_dialog(*reporter, kAppArgument);
  ASSERT_NE(dialog, nullptr);
  ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(within(15000, [&] { return item_text(dialog, 1007) == pick(L"Connect Fail!!!", L"通讯错误！！！"); }));
  EXPECT_EQ(::SendDlgItemMessageW(dialog, 1004, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(item_text(dialog, IDCANCEL), pick(L"Exit", L"退出"));
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(reporter->wait(10000), 0u);
  EXPECT_TRUE(within(kEventually, [&] { return host_restarted(); }));
}

TEST_F(FaultpostDialogTest, AnOlderArchiveIsKeptBeforeTheNewOneReplacesIt) {
  std::ofstream(dir_ / "CRASHLOG.TXT", std::ios::binary)
      << "\xFF\xFE" << utf16le(L"Program name: Drovan Plugin\r\ncrash info: boom\r\n");
  std::ofstream(dir_ / "CRASH.ZIP", std::ios::binary) << "old";
  std::ofstream(dir_ / "CRASH.ZIP.0001", std::ios::binary) << "older";
  auto reporter = start();
  const HWND dialog = find_dialog(*reporter, kAppArgument);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(read_file(dir_ / "CRASH.ZIP.0002"), "old");
  // The three files, in this order.
  const std::string archive = read_file(dir_ / "CRASH.ZIP");
  EXPECT_EQ(archive.substr(0, 2), "PK");
  const size_t dump = archive.find("CRASH.DMP");
  const size_t system_log = archive.find("CRASHLOG.DAT");
  const size_t log = archive.find("CRASHLOG.TXT");
  EXPECT_TRUE(dump < system_log && system_log < log && log != std::string::npos);
  // The crash info is the description to start with.
  EXPECT_EQ(item_text(dialog, 1002), L"boom");
  // Minimised, it paints its icon; restored, it is as it was.
  // Without a window manager on the display, Wine may undo a minimise it
  // was asked for from outside: ask again until it holds.
  EXPECT_TRUE(within(kEventually, [&] {
    if (::IsIconic(dialog)) return true;
    ::ShowWindow(dialog, SW_MINIMIZE);
    return ::IsIconic(dialog) != FALSE;
  }));
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  ::ShowWindow(dialog, SW_RESTORE);
  EXPECT_TRUE(within(kEventually, [&] { return ::IsIconic(dialog) == FALSE; }));
  EXPECT_EQ(item_text(dialog, 1002), L"boom");
  EXPECT_TRUE(reporter->running());
  ::SendDlgItemMessageW(dialog, 1016, BM_SETCHECK, BST_UNCHECKED, 0);
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(reporter->wait(10000), 0u);
}

// A report the server does not acknowledge waits beside the reporter; the
// next run that reaches the server sends it after its own, once.
TEST_F(FaultpostDialogTest, AReportThatWasNotAcknowledgedGoesWithTheNextOneThatIs) {
  if (state_dir().empty()) GTEST_SKIP() << "needs the loopback server's state";
  set_server("current", "404");
  auto first = start();
  send_and_expect(*first, pick(L"Connect Fail!!!", L"通讯错误！！！"));
  const std::string unsent_archive = read_file(dir_ / "CRASH.ZIP");
  ASSERT_EQ(unsent().size(), 1u);
  EXPECT_EQ(read_file(unsent()[0] / "CRASH.ZIP"), unsent_archive);
  // This server kept what it refused; the reporter cannot know that.
  EXPECT_EQ(stored_archives().size(), 1u);

  set_server("current", "ok");
  std::ofstream(dir_ / "CRASH.DMP", std::ios::binary) << std::string(6000, 'e');  // a second crash
  auto second = start();
  // The one that waited goes while the result shows.
  send_and_expect(*second,
                  pick(L"Submit Finished. Thank you for your support to Drovan plugin.",
                       L"提交已完成。感谢您对Drovan插件的支持。"),
                  [&] { return stored_archives().size() == 3 && unsent().empty(); });
  const auto archives = stored_archives();
  ASSERT_EQ(archives.size(), 3u);
  EXPECT_EQ(archives[1], read_file(dir_ / "CRASH.ZIP"));  // this run's own first
  EXPECT_EQ(archives[2], unsent_archive);                // then the one that waited
  EXPECT_TRUE(unsent().empty());
}

}  // namespace
}  // namespace Faultpost
