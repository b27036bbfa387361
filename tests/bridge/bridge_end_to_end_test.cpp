// The bridge in both directions, as real processes: client_sim in the main
// client's place, the host, and the sample plug-in, which logs every call
// it gets. client_sim logs the replies it got and every call of the
// client's interface it served.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/client_run.h"
#include "support/host_sandbox.h"

namespace Core_Drovan {
namespace {

using Test_Support::Client_Run;
using Test_Support::contains;
using Test_Support::hex;
using Test_Support::Host_Sandbox;
using Test_Support::le32;
using Test_Support::le64;
using Test_Support::starting;

TEST(BridgeEndToEndTest, ArgumentCountsMethodIdsAndShortArguments) {
  Host_Sandbox sandbox("");
  Client_Run run(sandbox,
                 "start\n"
                 "call 0 str:magnet://a i32:1 i32:2\n"
                 "call 9\n"
                 "call 1 empty\n"
                 "call 4 empty\n"
                 "call 5 i32:-1 i32:2 u32:70000 u32:6883\n"
                 "sleep 500\n");
  const auto log = run.finish();
  EXPECT_EQ(log, (std::vector<std::string>{"ready", "reply 0 status 2", "reply 9 status 3", "reply 1 status 0",
                                           "reply 4 status 0", "reply 5 status 0"}));
  EXPECT_FALSE(sandbox.has_call("slot 29 magnet://a"));
  EXPECT_EQ(sandbox.count_calls("slot 32 -1"), 0u);  // an empty item id does nothing
  EXPECT_TRUE(sandbox.has_call("slot 24 0"));         // an empty show hides
  EXPECT_TRUE(sandbox.has_call("slot 17 -1 2 4464 6883"));  // the first 2 bytes of each port
}

TEST(BridgeEndToEndTest, AnAddWaitsWhileThePluginIsNotReadyThenReportsTheNewItem) {
  Host_Sandbox sandbox("ready_add=0\n");
  Client_Run run(sandbox,
                 "start\n"
                 "call 0 str:magnet://wait i32:77\n"
                 "wait 5 1 15000\n");
  ASSERT_TRUE(run.logged_within("reply 0 status 0", 15000));
  ::Sleep(600);
  EXPECT_GE(sandbox.count_calls("slot 10"), 3u);  // tried again every 100 ms
  EXPECT_FALSE(sandbox.has_call("slot 29 magnet://wait"));
  sandbox.set_control("ready_add=1\n");
  const auto log = run.finish();
  EXPECT_TRUE(sandbox.has_call("slot 29 magnet://wait"));
  EXPECT_TRUE(contains(log, "notify 5 " + hex(le32(1) + "") + " " + hex(le32(77))));
  EXPECT_TRUE(contains(log, "got 5 1"));
}

TEST(BridgeEndToEndTest, AnOpenLinkThatStaysNotReadyIsDroppedAtTheHundredAndFirstAttempt) {
  Host_Sandbox sandbox("ready_open=0\nconnected=0\n");
  {
    Client_Run run(sandbox,
                   "start\n"
                   "call 6 wstr:link://value u64:5\n"
                   "sleep 40000\n"
                   "call 6 wstr:link://second u64:6\n"
                   "sleep 3000\n");
    // A retry waits for the first tick after its 100 ms have passed.
    for (int waited = 0; waited < 40000 && sandbox.count_calls("slot 40") < 101; waited += 100) ::Sleep(100);
    ::Sleep(800);
    EXPECT_EQ(sandbox.count_calls("slot 40"), 101u);
    EXPECT_EQ(sandbox.count_calls("slot 10"), 101u);
    EXPECT_FALSE(sandbox.has_call("slot 38 link://value 5"));
    // Each request counts its own retries: the next, after a drop, is tried
    // again and again, not dropped at its first attempt.
    run.finish();
    EXPECT_GE(sandbox.count_calls("slot 40"), 106u);
  }

  // Once ready, it is delivered at once with the text and value it came with.
  sandbox.set_control("");
  Client_Run ready(sandbox,
                   "start\n"
                   "call 6 wstr:link://\xE4\xB8\xAD u64:9\n"
                   "sleep 500\n");
  ready.finish();
  EXPECT_TRUE(sandbox.has_call("slot 38 link://\xE4\xB8\xAD 9"));
}

TEST(BridgeEndToEndTest, ChunkEventsDrainOneChunkPerTaskUntilThePluginHasNoMore) {
  Host_Sandbox sandbox("data_size=100\nchunk=40\nevent_on_add=0\n");
  Client_Run run(sandbox,
                 "start\n"
                 "call 0 str:link://abc i32:1\n"
                 "wait 3 3 5000\n"
                 "post 1 8\n"
                 "wait 9 3 5000\n"
                 "sleep 300\n");
  const auto log = run.finish();
  std::string data;
  while (data.size() < 100) data += "link://abc";
  data.resize(100);
  const std::string id = hex(le32(1));
  EXPECT_EQ(starting(log, "notify 3 "),
            (std::vector<std::string>{"notify 3 " + id + " " + hex(data.substr(0, 40)) + " " + hex(le64(0)),
                                      "notify 3 " + id + " " + hex(data.substr(40, 40)) + " " + hex(le64(40)),
                                      "notify 3 " + id + " " + hex(data.substr(80)) + " " + hex(le64(80))}));
  EXPECT_EQ(starting(log, "notify 9 ").size(), 3u);
  // The fourth size query reports nothing left, and the drain ends.
  EXPECT_EQ(sandbox.count_calls("slot 30 1"), 4u);
  EXPECT_EQ(sandbox.count_calls("slot 36 1"), 4u);
}

TEST(BridgeEndToEndTest, BlockValuesAndDetailsEventsCarryWhatThePluginReports) {
  Host_Sandbox sandbox("data_size=30\n");
  Client_Run run(sandbox,
                 "start\n"
                 "call 0 str:link://abc i32:1\n"
                 "wait 5 1 5000\n"
                 "post 1 1\n"
                 "wait 6 1 5000\n"
                 "post 1 2\n"
                 "wait 4 1 5000\n"
                 "post 1 3\n"
                 "wait 4 2 5000\n"
                 "call 2 i32:1\n"
                 "wait 8 1 5000\n"
                 "post -1 7\n"
                 "post -1 3\n"
                 "sleep 400\n");
  const auto log = run.finish();
  const std::string data = "link://abclink://abclink://abc";
  const std::string id = hex(le32(1));
  EXPECT_EQ(starting(log, "notify 6 "), std::vector<std::string>{"notify 6 " + id + " " + hex(data)});
  EXPECT_EQ(starting(log, "notify 4 "),
            (std::vector<std::string>{"notify 4 " + id + " " + hex(le32(1)) + " " + hex(le64(0)) + " " + hex(le32(0)),
                                      "notify 4 " + id + " " + hex(le32(1)) + " " + hex(le64(30)) + " " + hex(le32(1))}));
  // Slot 35's values (id, link length, size, bytes reported) and data.
  EXPECT_EQ(starting(log, "notify 8 "),
            std::vector<std::string>{"notify 8 " + id + " " + hex(le32(1)) + " " + hex(le32(10)) + " " + hex(le64(30)) +
                                     " " + hex(le64(0)) + " " + hex(data)});
  EXPECT_FALSE(sandbox.has_call("slot 35 -1"));  // item -1: nothing asked
  EXPECT_FALSE(sandbox.has_call("slot 33 -1"));
}

TEST(BridgeEndToEndTest, CallbacksGivenNullOutputsAnswerWithoutWritingThem) {
  // The plug-in calls each callback once with null outputs when handed them.
  Host_Sandbox sandbox("probe_callbacks=1\n");
  Client_Run run(sandbox, "start\nsleep 300\nhost_exit 0\n");
  const auto log = run.finish();
  EXPECT_TRUE(contains(log, "ready"));
  EXPECT_TRUE(contains(log, "host running"));
  EXPECT_TRUE(sandbox.has_call("slot 25 {C7BD0F78-136E-4b06-9D9D-30E5DC357C72}_PluginMsgSink 0 0 0"));
}

TEST(BridgeEndToEndTest, AListIsSentWholeOrNotAtAll) {
  Host_Sandbox sandbox("list=10\nlist_fail_at=3\n");
  Client_Run failing(sandbox, "start\ncall 7\nsleep 500\n");
  EXPECT_TRUE(starting(failing.finish(), "notify 7").empty());
  EXPECT_TRUE(sandbox.has_call("slot 42 3"));
  EXPECT_FALSE(sandbox.has_call("slot 42 4"));

  sandbox.set_control("list=2\nhash_length=31\n");
  Client_Run short_hash(sandbox, "start\ncall 7\nwait 7 1 5000\n");
  std::string list = le32(1) + le32(3) + le32(4) + le32(2);
  for (uint32_t i = 0; i < 2; ++i) {
    const std::string name = "sample item " + std::to_string(i);
    std::string wide;
    for (char c : name) wide += std::string{c, '\0'};
    list += le32(static_cast<uint32_t>(wide.size())) + wide + le64(1000 + i) + le32(i) + le32(2 * i) +
            std::string(16, '\0');
  }
  EXPECT_EQ(starting(short_hash.finish(), "notify 7"), std::vector<std::string>{"notify 7 " + hex(list)});
}

TEST(BridgeEndToEndTest, AFullHashIsDecodedIntoItsSixteenBytes) {
  Host_Sandbox sandbox("list=1\n");
  Client_Run run(sandbox, "start\ncall 7\nwait 7 1 5000\n");
  const auto sent = starting(run.finish(), "notify 7 ");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].substr(sent[0].size() - 32), "00112233445566778899aabbccddeeff");
}

TEST(BridgeEndToEndTest, ReadClientDataBoundsAndShortAnswers) {
  struct Case {
    const char* control;
    const char* answers;
    const char* result;
    bool asked;
  };
  const Case cases[] = {
      // The largest read goes out (the channel cannot carry its answer).
      {"act=4\nact_size=104857600\n", "2 hex:00\n", "callback 2 r=0 zeros", true},
      // One byte more is refused before anything is touched.
      {"act=4\nact_size=104857601\n", "2 fill:request\n", "callback 2 r=0 untouched", false},
      {"act=4\nact_size=1000\n", "2 fill:request-1\n", "callback 2 r=0 zeros", true},
      {"act=4\nact_size=1000\n", "2 fill:request\n", "callback 2 r=1 all 5a", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    Host_Sandbox sandbox(c.control);
    Client_Run run(sandbox, "start\ncall 8\nsleep 1500\n", c.answers);
    const auto log = run.finish();
    EXPECT_TRUE(sandbox.call_within(c.result, 10000));
    EXPECT_EQ(!starting(log, "ask 2 ").empty(), c.asked);
  }
}

TEST(BridgeEndToEndTest, CallClientZeroAndOneAnswerThePlugin) {
  {
    Host_Sandbox sandbox("act=2\nact_text=0\n");
    Client_Run run(sandbox, "start\ncall 8\nsleep 800\n", "0 u64:5 i32:9\n");
    const auto log = run.finish();
    EXPECT_TRUE(sandbox.call_within("callback 0 r=1 v=0 n=0", 15000));
    EXPECT_TRUE(starting(log, "ask 0").empty());  // an empty text asks nothing
  }
  {
    Host_Sandbox sandbox("act=2\nact_text=3\nact_item=4\n");
    Client_Run run(sandbox, "start\ncall 8\nsleep 800\n", "0 u64:5 i32:9\n");
    const auto log = run.finish();
    EXPECT_TRUE(sandbox.call_within("callback 0 r=1 v=5 n=9", 15000));
    EXPECT_TRUE(contains(log, "ask 0 " + hex(le32(4)) + " " + hex("xxx")));
  }
  {
    Host_Sandbox sandbox("act=3\n");
    Client_Run run(sandbox, "start\ncall 8\nsleep 800\n", "1 str:hello i32:1 i32:2\n");
    run.finish();
    EXPECT_TRUE(sandbox.call_within("callback 1 r=1 text=hello len=5 a=1 b=2", 15000));
  }
  {
    // Two results where three are due: a failure, every output zero.
    Host_Sandbox sandbox("act=3\n");
    Client_Run run(sandbox, "start\ncall 8\nsleep 800\n", "1 str:hello i32:1\n");
    run.finish();
    EXPECT_TRUE(sandbox.call_within("callback 1 r=0 text=(null) len=0 a=0 b=0", 15000));
  }
}

TEST(BridgeEndToEndTest, NothingIsSentOnceTheClientsMutexIsGone) {
  Host_Sandbox sandbox("");
  Client_Run run(sandbox,
                 "start\n"
                 "drop_mutex\n"
                 "call 0 str:magnet://gone i32:1\n"
                 "call 7\n"
                 "sleep 600\n");
  const auto log = run.finish();
  EXPECT_TRUE(sandbox.has_call("slot 29 magnet://gone"));
  EXPECT_TRUE(sandbox.has_call("slot 41"));
  EXPECT_TRUE(starting(log, "notify").empty());
}

TEST(BridgeEndToEndTest, CloseIfIdleClosesAHiddenPluginEvenWithActiveItems) {
  Host_Sandbox sandbox("");
  Client_Run hidden(sandbox,
                    "start\n"
                    "call 0 str:magnet://busy i32:1\n"
                    "wait 5 1 5000\n"
                    "call 3\n"
                    "host_exit 5000\n");
  EXPECT_TRUE(contains(hidden.finish(), "host exit 0"));

  Client_Run shown(sandbox,
                   "start\n"
                   "call 0 str:magnet://busy i32:1\n"
                   "wait 5 1 5000\n"
                   "call 4 byte:1\n"
                   "sleep 300\n"
                   "call 3\n"
                   "host_exit 1000\n");
  EXPECT_TRUE(contains(shown.finish(), "host running"));
}

TEST(BridgeEndToEndTest, TheSinkWindowClosesTheHostOnEventFiveOnly) {
  Host_Sandbox sandbox("");
  Client_Run run(sandbox,
                 "start\n"
                 "post 0 9\n"
                 "host_exit 800\n"
                 "post 0 5\n"
                 "host_exit 5000\n");
  const auto log = run.finish();
  EXPECT_EQ(log, (std::vector<std::string>{"ready", "posted", "host running", "posted", "host exit 0"}));
}

}  // namespace
}  // namespace Core_Drovan
