// The crash capture as real processes: a test program that links it and
// faults on request, in a directory with a blank in its name, beside a
// stand-in reporter that records how it was started.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crash/crash_handlers.h"
#include "minidump_view.h"
#include "support/child_process.h"
#include "support/host_sandbox.h"

namespace Crash_Capture {
namespace {

using Test_Support::Child_Process;
using Test_Support::program_dir;
using Test_Support::read_file;
namespace fs = std::filesystem;

#if defined(_WIN64)
constexpr char kIp[] = "RIP";
// Without structured-exception frames the filter reports every fault.
constexpr char kGuardLabel[] = "CustomUnhandledExceptionFilter()";
#else
constexpr char kIp[] = "EIP";
constexpr char kGuardLabel[] = "Exception_Debuger";
#endif

std::string utf8(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// CRASHLOG.TXT in `dir` without its byte-order mark, as UTF-8.
std::string crash_log(const fs::path& dir) {
  const std::string bytes = read_file(dir / "CRASHLOG.TXT");
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return "no byte-order mark";
  std::wstring text((bytes.size() - 2) / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                   static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
  }
  return utf8(text);
}

class CrashCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(program_dir()) / "crash sandbox";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(fs::path(program_dir()) / "crash_test_program.exe", dir_ / "crash_test_program.exe");
    fs::copy_file(fs::path(program_dir()) / "faultpost_stand_in.exe", dir_ / "Faultpost.exe");
  }

  DWORD run(const std::wstring& mode) {
    Child_Process program((dir_ / "crash_test_program.exe").wstring(), mode);
    const auto code = program.wait(60000);
    EXPECT_TRUE(code.has_value());
    // The stand-in reporter may still be writing its record.
    ::Sleep(300);
    return code.value_or(0);
  }

  std::string log() const { return crash_log(dir_); }
  std::vector<std::string> reporter_starts() const { return Test_Support::read_lines(dir_ / "Faultpost.args"); }

  fs::path dir_;
};

// Each piece in turn, each after the one before.
void expect_in_order(const std::string& text, const std::vector<std::string>& pieces) {
  size_t at = 0;
  for (const std::string& piece : pieces) {
    const size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << piece;
    at = found + piece.size();
  }
}

TEST_F(CrashCaptureTest, ANullWriteWritesTheThreeFilesAndStartsTheReporterOnce) {
  EXPECT_EQ(run(L"null_write"), 100u);
  const std::string text = log();
  expect_in_order(text, {"crash_test_program caused an Access Violation (0xc0000005) \r\nin module crash_test_program.exe at ",
                         ".\r\n\r\nException handler called in " + std::string(kGuardLabel) + ".\r\n",
                         "Error occurred at ", ".\r\n", ", run by ", "Operating system:  ", "processor(s), type ",
                         "% memory in use.\r\n", " MBytes physical memory.\r\n", " MBytes physical memory free.\r\n",
                         " MBytes paging file.\r\n", " MBytes paging file free.\r\n", " MBytes user address space.\r\n",
                         " MBytes user address space free.\r\n\r\n", "Program name: Drovan Plugin\r\n",
                         "Process execute time: 0 day ", "Program status: \r\nProgram mode: \r\n"
                         "Socket init version: n/a\r\nweb frame: \r\nmsg id: 0\r\npiece cache size: 0\r\n"
                         "bt mem_block_size: 0\r\ncrash info: \r\ndebug info: \r\n\r\npool_block dump:\r\n",
                         "  allocated_size = ", "  allocated_list_size = ", "  free_block_size = ",
                         "  free_block_num = ", "  commited_size = ", "  notblock_size = ", "  notblock_number = ",
                         "  total_size = ", "\r\n\r\nWrite to location 00000000 caused an access violation.\r\n",
                         "\r\nContext:\r\n", std::string(kIp) + ":    0x", "\r\nBytes at CS:" + std::string(kIp) + ":\r\n",
                         "\r\n\r\nStack: [Ignore]\r\n\r\nModule List: [Ignore]\r\n"
                         "\r\n===== [end of CRASHLOG.TXT] =====\r\n"});
  EXPECT_EQ(text.substr(text.size() - 37), "\r\n===== [end of CRASHLOG.TXT] =====\r\n");
  EXPECT_EQ(fs::file_size(dir_ / "CRASHLOG.DAT"), 0u);
  EXPECT_EQ(read_file(dir_ / "CRASH.DMP").substr(0, 4), "MDMP");
  // The reporter's path quoted (the directory has a blank), then the
  // application name and the program's file name in one quoted argument.
  EXPECT_EQ(reporter_starts(), std::vector<std::string>{"\"" + utf8((dir_ / "Faultpost.exe").wstring()) +
                                                        "\" \"dr20100201crash_test_program.exe\""});
}

TEST_F(CrashCaptureTest, UncaughtFatalErrorsAndInvalidParametersAreCppExceptions) {
  for (const wchar_t* mode : {L"fatal", L"invalid_parameter", L"uncaught"}) {
    SCOPED_TRACE(utf8(mode));
    SetUp();
    EXPECT_EQ(run(mode), 100u);
    EXPECT_NE(log().find("caused a Microsoft C++ Exception (0xe06d7363)"), std::string::npos);
    EXPECT_EQ(reporter_starts().size(), 1u);
  }
}

TEST_F(CrashCaptureTest, AnAccessViolationWithoutItsParametersHasNoAddressLine) {
  EXPECT_EQ(run(L"no_parameters"), 100u);
  const std::string text = log();
  EXPECT_NE(text.find("caused an Access Violation"), std::string::npos);
  EXPECT_EQ(text.find("caused an access violation."), std::string::npos);
}

TEST_F(CrashCaptureTest, AnInstructionPointerOnNoMappedPageShowsUnreadableBytes) {
  EXPECT_EQ(run(L"unmapped_ip"), 100u);
  std::string unreadable;
  for (int i = 0; i < 16; ++i) unreadable += "?? ";
  EXPECT_NE(log().find(":\r\n" + unreadable + "\r\n\r\nStack"), std::string::npos);
}

TEST_F(CrashCaptureTest, AStackOverflowStillGetsACompleteReport) {
  EXPECT_EQ(run(L"stack_overflow"), 100u);
  const std::string text = log();
  EXPECT_NE(text.find("caused a Stack Overflow (0xc00000fd)"), std::string::npos);
  EXPECT_NE(text.find("===== [end of CRASHLOG.TXT] ====="), std::string::npos);
  EXPECT_EQ(reporter_starts().size(), 1u);
}

TEST_F(CrashCaptureTest, AFaultOnAnUnguardedThreadReachesTheFilter) {
  EXPECT_EQ(run(L"other_thread"), 100u);
  EXPECT_NE(log().find("Exception handler called in CustomUnhandledExceptionFilter()."), std::string::npos);
  EXPECT_EQ(reporter_starts().size(), 1u);
}

TEST_F(CrashCaptureTest, AFaultOnAnotherThreadWaitsForTheReportInProgress) {
  EXPECT_EQ(run(L"second_fault"), 100u);
  EXPECT_NE(log().find("===== [end of CRASHLOG.TXT] ====="), std::string::npos);
  EXPECT_EQ(reporter_starts().size(), 1u);
}

TEST_F(CrashCaptureTest, AFaultOfTheCapturingThreadEndsAtOnce) {
  // The program writes a report itself, then faults on the same thread: the
  // second entry ends the process without a second report.
  EXPECT_EQ(run(L"reentered"), 100u);
  EXPECT_EQ(reporter_starts().size(), 1u);
}

// The real host beside a stand-in reporter, faulting inside the sample
// plug-in in one of the ways a plug-in faults.
struct Host_Crash {
  fs::path dir;
  std::optional<DWORD> exit_code;  // none: still running after 60 s
  std::string log;
  Minidump_View dump;
  std::vector<std::string> reporter_starts;
  std::vector<std::string> plugin_calls;
};

Host_Crash crash_host(const std::string& control, const std::function<void(const fs::path&)>& prepare = {}) {
  Test_Support::Host_Sandbox sandbox(control);
  fs::copy_file(fs::path(program_dir()) / "faultpost_stand_in.exe", sandbox.dir() / "Faultpost.exe");
  if (prepare) prepare(sandbox.dir());
  auto host = sandbox.start(L"");  // the show request calls slot 24
  EXPECT_EQ(host->start_error(), 0u);
  Host_Crash crash;
  crash.dir = sandbox.dir();
  crash.exit_code = host->wait(60000);
  // The stand-in reporter records its start as it begins; give it time.
  const fs::path starts = sandbox.dir() / "Faultpost.args";
  for (int i = 0; i < 100 && !fs::exists(starts); ++i) ::Sleep(100);
  ::Sleep(300);
  crash.log = crash_log(sandbox.dir());
  crash.dump = read_minidump(read_file(sandbox.dir() / "CRASH.DMP"));
  crash.reporter_starts = Test_Support::read_lines(starts);
  crash.plugin_calls = sandbox.calls();
  return crash;
}

// One complete report of `description`, raised in `module`, and one start
// of the reporter.
void expect_one_report(const Host_Crash& crash, const std::string& description, const std::string& module) {
  EXPECT_EQ(crash.exit_code, 100u);
  EXPECT_EQ(crash.log.find("plugin_Drovan caused " + description + " \r\nin module " + module), 0u) << crash.log;
  EXPECT_NE(crash.log.find("===== [end of CRASHLOG.TXT] ====="), std::string::npos);
  EXPECT_EQ(crash.reporter_starts.size(), 1u);
}

TEST(HostCrashTest, ANullWriteInThePluginNamesTheLibraryAndTheHost) {
  const Host_Crash crash = crash_host("crash_slot=24\n");
  expect_one_report(crash, "an Access Violation (0xc0000005)", "plugin_Drovan.dll at ");
  ASSERT_EQ(crash.reporter_starts.size(), 1u);
  EXPECT_EQ(crash.reporter_starts[0],
            "\"" + utf8((crash.dir / "Faultpost.exe").wstring()) + "\" \"dr20100201plugin_Drovan.exe\"");
  EXPECT_TRUE(crash.dump.valid);
  EXPECT_EQ(crash.dump.code, 0xC0000005u);
}

TEST(HostCrashTest, AStackOverflowInThePluginGetsACompleteReport) {
  const Host_Crash crash = crash_host("overflow_slot=24\n");
  expect_one_report(crash, "a Stack Overflow (0xc00000fd)", "plugin_Drovan.dll at ");
  EXPECT_EQ(crash.dump.code, 0xC00000FDu);
}

// Starting a thread takes the heap's lock and the loader lock, and runs
// every library's DLL_THREAD_ATTACH: none of that may stand between a
// fault and its report.
TEST(HostCrashTest, AFaultHoldingALockThatThreadsNeedIsReported) {
  for (const char* control : {"heap_lock_slot=24\n", "loader_lock_slot=24\n", "attach_lock_slot=24\n"}) {
    SCOPED_TRACE(control);
    const Host_Crash crash = crash_host(control);
    expect_one_report(crash, "an Access Violation (0xc0000005)", "plugin_Drovan.dll at ");
    EXPECT_TRUE(crash.dump.valid);
    EXPECT_EQ(crash.dump.code, 0xC0000005u);
  }
}

TEST(HostCrashTest, TwoThreadsFaultingAtOnceGiveOneCompleteReport) {
  const Host_Crash crash = crash_host("twin_fault_slot=24\n");
  expect_one_report(crash, "an Access Violation (0xc0000005)", "plugin_Drovan.dll at ");
  EXPECT_TRUE(crash.dump.valid);
  EXPECT_EQ(crash.dump.code, 0xC0000005u);
}

TEST(HostCrashTest, AnUncaughtCppExceptionIsReportedWhereItWasThrown) {
  const Host_Crash crash = crash_host("throw_slot=24\n");
  EXPECT_EQ(crash.exit_code, 100u);
  EXPECT_NE(crash.log.find("caused a Microsoft C++ Exception (0xe06d7363)"), std::string::npos) << crash.log;
  EXPECT_NE(crash.log.find("===== [end of CRASHLOG.TXT] ====="), std::string::npos);
  EXPECT_EQ(crash.reporter_starts.size(), 1u);
  ASSERT_TRUE(crash.dump.valid);
  EXPECT_EQ(crash.dump.code, kCppExceptionCode);
  // Nothing was unwound: the thread's stack still returns into the function
  // that threw.
  uintptr_t site = 0;
  for (const auto& line : crash.plugin_calls) {
    if (line.rfind("throw_site ", 0) == 0) site = std::stoull(line.substr(11), nullptr, 16);
  }
  ASSERT_NE(site, 0u);
  EXPECT_TRUE(crash.dump.stack_holds(site, site + 512));
}

TEST(HostCrashTest, ADumpThatCannotBeWrittenStillLeavesTheLogAndStartsTheReporter) {
  // Another program holds the old dump open without sharing it.
  Core_Common::Unique_Handle held;
  const Host_Crash crash = crash_host("crash_slot=24\n", [&](const fs::path& dir) {
    std::ofstream(dir / "CRASH.DMP") << "an older dump";
    held.reset(::CreateFileW((dir / "CRASH.DMP").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  });
  held.reset();
  expect_one_report(crash, "an Access Violation (0xc0000005)", "plugin_Drovan.dll at ");
  EXPECT_NE(crash.log.find("CRASH.DMP not written (error 32).\r\n"), std::string::npos) << crash.log;
}

}  // namespace
}  // namespace Crash_Capture
