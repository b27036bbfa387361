// Loading the plug-in library and calling into it, with the sample plug-in
// and its variants (tools/sample_plugin), which log every call they get.
// This test program carries the release's version resource, as the host.
#include "bridge/plugin_manage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace Core_Drovan {
namespace {

using Test_Support::program_dir;
using namespace InterfaceDrovan;

// Callbacks that tell themselves apart by their answers.
int32_t WINAPI first_callback(int32_t, const char*, uint64_t*, int32_t*) { return 10; }
int32_t WINAPI second_callback(int32_t, const char**, int32_t*, int32_t*, int32_t*) { return 20; }
int32_t WINAPI third_callback(int32_t, void*, uint64_t, uint32_t) { return 30; }
const Plugin_Callbacks kCallbacks{first_callback, second_callback, third_callback};

class PluginManageTest : public ::testing::Test {
 protected:
  void use(const std::wstring& library, const std::string& control = "") {
    library_ = library;
    ::DeleteFileW(file(L".calls").c_str());
    std::ofstream(std::filesystem::path(file(L".control")), std::ios::binary) << control;
  }
  std::wstring path() const { return program_dir() + library_ + L".dll"; }
  std::wstring file(const wchar_t* extension) const { return program_dir() + library_ + extension; }

  // The calls the library logged, a line each.
  std::vector<std::string> calls() const {
    std::ifstream in(std::filesystem::path(file(L".calls")), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool module_loaded() const { return ::GetModuleHandleW((library_ + L".dll").c_str()) != nullptr; }

  Core_Common::Task_Queue tasks_;
  std::wstring library_;
};

TEST_F(PluginManageTest, ALoadHandsOverTheTableHandshakeSinkAndCallbacks) {
  use(L"plugin_Drovan", "probe_callbacks=1\n");
  PluginManage manage(tasks_, kCallbacks);
  ASSERT_TRUE(manage.load(path()));
  EXPECT_TRUE(manage.loaded());
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "fill", "slot 0 agreed",
                         "slot 25 {C7BD0F78-136E-4b06-9D9D-30E5DC357C72}_PluginMsgSink 10 20 30"}));
  // A second load touches nothing.
  EXPECT_TRUE(manage.load(path()));
  EXPECT_EQ(calls().size(), 3u);

  manage.set_connection({0, 0, 6881, 6882});
  EXPECT_TRUE(manage.start());
  std::array<uint8_t, 16> result{};
  EXPECT_TRUE(manage.open_link(L"link://a", result));
  EXPECT_EQ(result[0], 0x15);
  manage.show(true);
  EXPECT_TRUE(manage.shown());
  // The host window's destroy handler: slot 3, then unload.
  manage.stop();
  manage.unload();
  EXPECT_FALSE(manage.loaded());
  EXPECT_FALSE(module_loaded());
  const auto log = calls();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.begin() + 3, log.end()),
            (std::vector<std::string>{"slot 17 0 0 6881 6882", "slot 2", "slot 15 link://a", "slot 24 1",
                                      "slot 3", "slot 3", "slot 1"}));
}

TEST_F(PluginManageTest, ALibraryWithoutTheOrdinalExportFailsAndIsFreed) {
  use(L"plugin_no_export");
  PluginManage manage(tasks_, {});
  EXPECT_FALSE(manage.load(path()));
  EXPECT_FALSE(manage.loaded());
  EXPECT_FALSE(module_loaded());
  EXPECT_TRUE(calls().empty());
}

TEST_F(PluginManageTest, AnEmptyPathOrAMissingFileFails) {
  PluginManage manage(tasks_, {});
  EXPECT_FALSE(manage.load(L""));
  EXPECT_FALSE(manage.load(program_dir() + L"no_such_plugin.dll"));
  EXPECT_FALSE(manage.loaded());
}

TEST_F(PluginManageTest, AnExportWritingPastItsSlotsDoesNotChangeWhichModuleGoes) {
  use(L"plugin_Drovan", "clobber_module=1\n");
  PluginManage manage(tasks_, {});
  ASSERT_TRUE(manage.load(path()));
  manage.unload();
  EXPECT_FALSE(module_loaded());
}

TEST_F(PluginManageTest, AForeignReleaseFailsAfterTheExportAndBeforeTheHandshake) {
  use(L"plugin_foreign_release");
  PluginManage manage(tasks_, {});
  EXPECT_FALSE(manage.load(path()));
  EXPECT_FALSE(module_loaded());
  EXPECT_EQ(calls(), std::vector<std::string>{"fill"});
}

TEST_F(PluginManageTest, HostAndLibraryBothWithoutAVersionPass) {
  use(L"plugin_unversioned");
  PluginManage unversioned_host(tasks_, {}, program_dir() + L"version_none.dll");
  EXPECT_TRUE(unversioned_host.load(path()));
  unversioned_host.unload();

  // Against this program's release they differ.
  PluginManage host(tasks_, {});
  EXPECT_FALSE(host.load(path()));
}

TEST_F(PluginManageTest, ARefusedHandshakeFailsTheLoad) {
  use(L"plugin_Drovan", "handshake=0\n");
  PluginManage manage(tasks_, {});
  EXPECT_FALSE(manage.load(path()));
  EXPECT_FALSE(module_loaded());
  EXPECT_EQ(calls(), (std::vector<std::string>{"fill", "slot 0 agreed"}));
}

TEST_F(PluginManageTest, AFailedStartUnloadsAndLaterRequestsDoNothing) {
  use(L"plugin_Drovan", "start=0\n");
  PluginManage manage(tasks_, {});
  ASSERT_TRUE(manage.load(path()));
  EXPECT_FALSE(manage.start());
  EXPECT_FALSE(manage.loaded());
  manage.show(true);
  std::array<uint8_t, 16> result{};
  EXPECT_FALSE(manage.open_link(L"link://b", result));
  const auto log = calls();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.begin() + 3, log.end()),
            (std::vector<std::string>{"slot 2", "slot 3", "slot 1"}));
}

TEST_F(PluginManageTest, GoingCancelsItsTasksAndDestroysTheSink) {
  use(L"plugin_Drovan");
  int ran = 0;
  HWND sink = nullptr;
  {
    PluginManage manage(tasks_, {});
    ASSERT_TRUE(manage.load(path()));
    sink = manage.sink_window();
    EXPECT_TRUE(::IsWindow(sink));
    tasks_.post_task(manage.task_owner(), [&] { ++ran; });
    tasks_.post_task(nullptr, [&] { ran += 10; });
    manage.unload();
  }
  tasks_.run_tasks();
  EXPECT_EQ(ran, 10);
  EXPECT_FALSE(::IsWindow(sink));
}

TEST_F(PluginManageTest, SlotThirtyNineIsNeverCalledOnALibraryBeingUnloaded) {
  use(L"plugin_Drovan");
  PluginManage manage(tasks_, {});
  ASSERT_TRUE(manage.load(path()));
  std::atomic<bool> done{false};
  std::atomic<int> calls_made{0};
  std::thread worker([&] {
    while (!done) {
      manage.call_slot_39();
      ++calls_made;
    }
  });
  while (calls_made < 20) ::Sleep(1);
  // As the host window's destroy handler: slot 3, then unload.
  manage.stop();
  manage.unload();
  const int after_unload = calls_made;
  while (calls_made < after_unload + 20) ::Sleep(1);  // still calling, to no effect
  done = true;
  worker.join();

  const auto log = calls();
  const auto stop = std::find(log.begin(), log.end(), "slot 3");
  ASSERT_NE(stop, log.end());
  EXPECT_GT(std::count(log.begin(), stop, "slot 39"), 0);
  EXPECT_EQ(std::count(stop, log.end(), "slot 39"), 0);
}

TEST_F(PluginManageTest, TheSinkWindowHandsEventsToThePluginManager) {
  use(L"plugin_Drovan");
  PluginManage manage(tasks_, {});
  ASSERT_TRUE(manage.load(path()));
  const HWND sink = manage.sink_window();
  wchar_t class_name[32] = {};
  ::GetClassNameW(sink, class_name, 32);
  EXPECT_EQ(_wcsicmp(class_name, L"Static"), 0);
  // Code 4 calls slot 16; code 9 does nothing; the answer is 0.
  EXPECT_EQ(::SendMessageW(sink, kPluginEventMessage, 0, 4), 0);
  EXPECT_EQ(::SendMessageW(sink, kPluginEventMessage, 0, 9), 0);
  EXPECT_EQ(calls().back(), "slot 16 4");
  manage.unload();
  // After unload only codes 2 and 5 would act; 4 does not reach the library.
  ::SendMessageW(sink, kPluginEventMessage, 0, 4);
  EXPECT_EQ(calls().back(), "slot 1");
}

}  // namespace
}  // namespace Core_Drovan
