// The submission protocol end to end: real WinINet under Wine against the
// loopback report server (tools/report_server.py), which the driver script
// starts and names through DROVAN_REPORT_ENDPOINT and SUBMIT_STATE_DIR.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "submit/torrent_submit.h"
#include "support/allocation_failure.h"
#include "system/file_helper.h"

namespace OrbwellSearch {
namespace {

struct Posted {
  UINT message;
  WPARAM result;
};

std::vector<Posted>* g_posted = nullptr;

LRESULT CALLBACK record_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if ((message == WMU_SUBMIT_RESULT || message == WMU_REQUEST_RESULT) && g_posted != nullptr) {
    g_posted->push_back({message, w});
    return 0;
  }
  return ::DefWindowProcA(window, message, w, l);
}

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class SubmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* state = std::getenv("SUBMIT_STATE_DIR");
    ASSERT_NE(state, nullptr) << "run through run_submit_tests.py";
    state_dir_ = state;
    WNDCLASSA wc{};
    wc.lpfnWndProc = record_proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "submit_test_sink";
    ::RegisterClassA(&wc);
    window_ = ::CreateWindowExA(0, "submit_test_sink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    g_posted = &posted_;
    TorrentSubmit::create();
  }

  void TearDown() override {
    TorrentSubmit::destroy();
    g_posted = nullptr;
    if (window_ != nullptr) ::DestroyWindow(window_);
  }

  void configure(const std::string& version, const std::string& report) {
    Core_Common::write_whole_file(widen(state_dir_ + "\\config.json"),
                                 "{\"version\": \"" + version + "\", \"report\": \"" + report + "\"}");
  }

  // Pumps messages until a result arrives or the time runs out.
  std::optional<Posted> wait_result(DWORD timeout_ms) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < timeout_ms) {
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
      if (!posted_.empty()) {
        const Posted first = posted_.front();
        posted_.erase(posted_.begin());
        return first;
      }
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return std::nullopt;
  }

  std::string read_state(const std::string& relative) {
    std::string content;
    Core_Common::read_whole_file(widen(state_dir_ + "\\" + relative), content);
    return content;
  }

  std::string temp_file(const std::string& name, const std::string& content) {
    const std::string path = state_dir_ + "\\" + name;
    Core_Common::write_whole_file(widen(path), content);
    return path;
  }

  void expect(UINT message, WPARAM result, DWORD timeout_ms = 30000) {
    const auto got = wait_result(timeout_ms);
    ASSERT_TRUE(got) << "no result message";
    EXPECT_EQ(got->message, message);
    EXPECT_EQ(got->result, result);
  }

  std::string state_dir_;
  HWND window_ = nullptr;
  std::vector<Posted> posted_;
};

TEST_F(SubmitTest, VersionRequestAnsweredCurrent) {
  configure("current", "ok");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_REQUEST_RESULT, 0);
  const std::string raw = read_state("requests\\0001.raw");
  EXPECT_EQ(raw.rfind("GET /faultpost/submit?request_app=plugin_Drovan HTTP/1.0\r\n", 0), 0u) << raw;
  EXPECT_NE(raw.find("User-Agent: Mozilla/4.0 (compatible; )\r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("Accept: */*\r\n"), std::string::npos) << raw;
}

TEST_F(SubmitTest, VersionRequestAnsweredOutOfDate) {
  configure("outdated", "ok");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_REQUEST_RESULT, 1);
}

TEST_F(SubmitTest, VersionAnswerWithNeitherKeywordIsAFailure) {
  configure("neither", "ok");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_SUBMIT_RESULT, 1);
}

TEST_F(SubmitTest, Status404IsAFailureWhateverTheBody) {
  configure("404", "404");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_SUBMIT_RESULT, 1);
}

TEST_F(SubmitTest, ReportArrivesIntactWithItsFields) {
  configure("current", "ok");
  std::string archive(300000, '\0');
  std::mt19937 rng(5);
  for (char& c : archive) c = static_cast<char>(rng());
  const std::string path = temp_file("CRASH.ZIP", archive);

  // The user's text in the system code page, as the dialog hands it over.
  char message[64] = {};
  ::WideCharToMultiByte(CP_ACP, 0, L"Gr\u00fc\u00dfe, it crashed", -1, message, sizeof message, nullptr, nullptr);
  SubmitReport("0123456789abcdef0123456789abcdef", window_, {"3.1.4", message, path});
  expect(WMU_SUBMIT_RESULT, 0);

  EXPECT_EQ(read_state("reports\\0001\\archive"), archive);
  const std::string fields = read_state("reports\\0001\\fields.json");
  EXPECT_NE(fields.find("\"app_ver\": \"3.1.4\""), std::string::npos) << fields;
  EXPECT_NE(fields.find("\"user_msg\": \"Gr\xc3\xbc\xc3\x9f" "e, it crashed\""), std::string::npos) << fields;
  EXPECT_NE(fields.find("\"query\": \"install_id=0123456789abcdef0123456789abcdef\""), std::string::npos)
      << fields;
  const std::string raw = read_state("requests\\0001.raw");
  // The path goes out unchanged; a standard parser reads its backslashes
  // as quoting, so it is checked on the wire.
  EXPECT_NE(raw.find("name=\"Filename\"; filename=\"" + path + "\"\r\n"), std::string::npos);
  EXPECT_EQ(raw.rfind("POST /faultpost/submit?install_id=0123456789abcdef0123456789abcdef HTTP/1.0\r\n", 0), 0u);

  // Without an install id the bare address is used.
  SubmitReport("", window_, {"3.1.4", "", path});
  expect(WMU_SUBMIT_RESULT, 0);
  EXPECT_NE(read_state("reports\\0002\\fields.json").find("\"query\": \"\""), std::string::npos);
}

TEST_F(SubmitTest, ATwentyMegabyteArchiveUploadsIntact) {
  configure("current", "ok");
  std::string archive(20 * 1024 * 1024, '\0');
  std::mt19937 rng(9);
  for (char& c : archive) c = static_cast<char>(rng());
  const std::string path = temp_file("BIG.ZIP", archive);
  SubmitReport("", window_, {"3.1.4", "big", path});
  expect(WMU_SUBMIT_RESULT, 0, 120000);
  EXPECT_TRUE(read_state("reports\\0001\\archive") == archive);
}

TEST_F(SubmitTest, AReportAnswerWithoutReportOkIsAFailure) {
  configure("current", "request_ok_only");
  const std::string path = temp_file("CRASH.ZIP", "PK");
  SubmitReport("", window_, {"3.1.4", "x", path});
  expect(WMU_SUBMIT_RESULT, 1);
}

TEST_F(SubmitTest, ARefusedConnectionEndsInFailure) {
  // Nothing listens on port 9 of the loopback.
  _putenv_s("DROVAN_REPORT_ENDPOINT", "http://127.0.0.1:9/faultpost/submit");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_SUBMIT_RESULT, 1, 60000);
}

TEST_F(SubmitTest, AServerThatNeverAnswersEndsInFailure) {
  configure("silent", "silent");
  const DWORD start = ::GetTickCount();
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_SUBMIT_RESULT, 1, 90000);
  std::printf("silent server: failure after %lu ms\n", static_cast<unsigned long>(::GetTickCount() - start));
}

TEST_F(SubmitTest, DestroyingTheManagerInFlightPostsNothing) {
  configure("silent", "silent");
  RequestApp(window_, "plugin_Drovan");
  ::Sleep(500);
  ASSERT_EQ(TorrentSubmit::instance()->queued(), 1u);
  TorrentSubmit::destroy();
  EXPECT_FALSE(wait_result(1500));
}

TEST_F(SubmitTest, AnAddressThatCannotStartEndsInFailure) {
  _putenv_s("DROVAN_REPORT_ENDPOINT", "http://127.0.0.1:99999/faultpost/submit");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_SUBMIT_RESULT, 1, 5000);
}

TEST_F(SubmitTest, APathAndQueryOverAHundredBytesIsSentAndOverAThousandFails) {
  configure("current", "ok");
  const std::string path = temp_file("CRASH.ZIP", "PK");
  const std::string long_id(150, 'a');
  SubmitReport(long_id, window_, {"3.1.4", "x", path});
  expect(WMU_SUBMIT_RESULT, 0);
  EXPECT_NE(read_state("reports\\0001\\fields.json").find("install_id=" + long_id), std::string::npos);

  SubmitReport(std::string(1000, 'b'), window_, {"3.1.4", "x", path});
  expect(WMU_SUBMIT_RESULT, 1, 5000);
}

TEST_F(SubmitTest, AnAnswerInDelayedPiecesIsReadWhole) {
  configure("current_in_pieces", "ok_in_pieces");
  RequestApp(window_, "plugin_Drovan");
  expect(WMU_REQUEST_RESULT, 0);
  const std::string path = temp_file("CRASH.ZIP", "PK");
  SubmitReport("", window_, {"3.1.4", "x", path});
  expect(WMU_SUBMIT_RESULT, 0);
}

TEST_F(SubmitTest, AFailureWhileReadingTheAnswerEndsInFailure) {
  configure("current_big", "ok");
  // The 1 MiB answer outgrows what may be allocated.
  Test_Support::fail_allocations_from(512 * 1024);
  RequestApp(window_, "plugin_Drovan");
  const auto got = wait_result(30000);
  Test_Support::fail_allocations_from(0);
  ASSERT_TRUE(got) << "no result message";
  EXPECT_EQ(got->message, static_cast<UINT>(WMU_SUBMIT_RESULT));
  EXPECT_EQ(got->result, 1u);
}

}  // namespace
}  // namespace OrbwellSearch
