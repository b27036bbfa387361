// The host under a plug-in or a main client that misbehaves, as real
// processes: client_sim in the client's place, the host, and the sample
// plug-in told to misbehave. Each case is a way the host could crash, hang
// or lose work.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/client_run.h"
#include "support/host_sandbox.h"

namespace Core_Drovan {
namespace {

using Test_Support::Client_Run;
using Test_Support::contains;
using Test_Support::Host_Sandbox;
using Test_Support::le32;
using Test_Support::le64;
using Test_Support::starting;

constexpr wchar_t kClientInstanceMutex[] = L"{VORANTIX-D19EACFB-5FD1-4615-A179-A9B9E38A6506}";

// While the client is gone, every notification asks whether it runs. Asking
// must never create its mutex: a client starting at that moment would take
// itself for a second instance.
TEST(MisbehavingPeersTest, AskingWhetherTheClientRunsNeverCreatesItsMutex) {
  Host_Sandbox sandbox("data_size=20000\nchunk=20\nevent_on_add=0\n");
  Client_Run run(sandbox,
                 "start\n"
                 "drop_mutex\n"
                 "call 0 str:link://gone i32:1\n"
                 "sleep 12000\n");
  // Looked for again and again while the drain runs, never created here:
  // whoever brings it into being is the host.
  ASSERT_TRUE(sandbox.call_within("slot 29 link://gone", 15000));  // the client has dropped it
  int seen = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < end && sandbox.count_calls("slot 31 1 19980 20") == 0) {
    for (int i = 0; i < 2000; ++i) {
      if (const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, kClientInstanceMutex)) {
        ++seen;
        ::CloseHandle(mutex);
      }
    }
  }
  EXPECT_EQ(sandbox.count_calls("slot 31 1 19980 20"), 1u);  // the whole item was drained
  EXPECT_EQ(seen, 0);
  EXPECT_TRUE(starting(run.finish(), "notify").empty());
}

// A plug-in thread keeps asking the client while the host closes, and the
// library does not stop it: it must always come back to mapped code, and
// the host end cleanly.
TEST(MisbehavingPeersTest, AnOrdinaryCloseNeverFreesTheLibraryUnderAThreadInACallback) {
  Host_Sandbox sandbox("act=6\n");
  Client_Run run(sandbox,
                 "start\n"
                 "call 8\n"
                 "wait 2 20 10000\n"
                 "call 3\n"
                 "host_exit 20000\n",
                 "2 fill:request\n");
  const auto log = run.finish();
  EXPECT_TRUE(contains(log, "got 2 20"));  // the thread was asking when the host closed
  EXPECT_TRUE(contains(log, "host exit 0"));
}

TEST(MisbehavingPeersTest, TwoPluginThreadsAskingForTextsAtOnceEachKeepTheirOwn) {
  Host_Sandbox sandbox("act=5\nact_item=6\n");
  Client_Run run(sandbox, "start\ncall 8\nwait 1 400 60000\nsleep 1000\n", "1 text:item i32:1 i32:2\n");
  EXPECT_TRUE(contains(run.finish(90000), "got 1 400"));
  EXPECT_TRUE(sandbox.call_within("callback 5 item=6 mismatches=0", 5000));
  EXPECT_TRUE(sandbox.call_within("callback 5 item=7 mismatches=0", 5000));
}

// 11 MiB in one chunk is more than one channel message carries: it arrives
// in pieces, and the item's next chunk follows.
TEST(MisbehavingPeersTest, AChunkLargerThanOneMessageArrivesInPiecesAndTheDrainGoesOn) {
  constexpr uint32_t kChunk = 11 * 1024 * 1024;
  Host_Sandbox sandbox("data_size=" + std::to_string(kChunk + 40) + "\nchunk=" + std::to_string(kChunk) +
                       "\nevent_on_add=0\n");
  Client_Run run(sandbox,
                 "start\n"
                 "call 0 str:link://big i32:1\n"
                 "wait 3 3 30000\n"
                 "sleep 300\n");
  const auto chunks = starting(run.finish(120000), "notify 3 ");
  ASSERT_EQ(chunks.size(), 3u);
  uint64_t expected_position = 0;
  for (const std::string& line : chunks) {
    // "notify 3 ID DATA POSITION", each field in hex.
    const size_t data_at = line.find(' ', 9) + 1;
    const size_t position_at = line.rfind(' ') + 1;
    const size_t bytes = (position_at - 1 - data_at) / 2;
    EXPECT_LT(bytes, 10u * 1024 * 1024);
    EXPECT_EQ(line.substr(position_at), Test_Support::hex(le64(expected_position)));
    expected_position += bytes;
  }
  EXPECT_EQ(expected_position, kChunk + 40u);
  EXPECT_EQ(chunks.front().substr(9, 8), Test_Support::hex(le32(1)));
}

// The main thread busy inside the plug-in for seconds: a show request in
// debug mode, on the channel's worker, must not hold up the calls after it.
TEST(MisbehavingPeersTest, AShowRequestNeverWaitsForABusyMainThread) {
  Host_Sandbox sandbox("sleep_slot=24\nsleep_ms=8000\n");
  Client_Run run(sandbox,
                 "start /debug\n"
                 "sleep 1000\n"
                 "call 4 byte:1\n"
                 "sleep 500\n"
                 "call 4 byte:0\n"
                 "call 7\n");
  const auto log = run.finish();
  EXPECT_EQ(starting(log, "reply 4 "), (std::vector<std::string>{"reply 4 status 0", "reply 4 status 0"}));
  EXPECT_TRUE(contains(log, "reply 7 status 0"));
}

// Slot 39 never returns: the host still closes, within the bound of its
// wait for it, and leaves the library mapped under the stuck thread.
TEST(MisbehavingPeersTest, AHostClosesWithinItsBoundWhileSlot39NeverReturns) {
  Host_Sandbox sandbox("sleep_slot=39\nsleep_ms=120000\n");
  Client_Run run(sandbox,
                 "start\n"
                 "call 8\n"
                 "sleep 300\n"
                 "call 3\n"
                 "host_exit 30000\n");
  EXPECT_TRUE(contains(run.finish(), "host exit 0"));
}

}  // namespace
}  // namespace Core_Drovan
