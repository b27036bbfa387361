#include "runtime/timer_queue.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "system/block_pool.h"

namespace Core_Common {
namespace {

// GetTickCount, under the clock, moves in steps of about 16 ms under Wine:
// tests wait for the clock to pass a deadline rather than sleep a fixed time.
class TimerQueueTest : public ::testing::Test {
 protected:
  TimerQueue queue;
  std::vector<std::string> fired;

  TimerQueue::Callback note(const std::string& what) {
    return [this, what] { fired.push_back(what); };
  }
  void wait_past(const timer_t* timer) {
    const uint64_t deadline = timer->deadline.value();
    while (now_ms() <= deadline) ::Sleep(1);
  }
};

TEST_F(TimerQueueTest, EqualDeadlinesFireInArmingOrder) {
  timer_t* a = nullptr;
  timer_t* b = nullptr;
  timer_t* c = nullptr;
  queue.set_timer(c, 30, false, "c", note("c"));
  queue.set_timer(a, 20, false, "a", note("a"));
  queue.set_timer(b, 20, false, "b", note("b"));
  ::Sleep(60);
  queue.run_due_timers();
  EXPECT_EQ(fired, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(queue.armed_count(), 0u);
}

TEST_F(TimerQueueTest, DueOnlyWhenNowIsStrictlyLaterThanTheDeadline) {
  // A timer of 0 ms is armed at the current millisecond. An attempt counts
  // only when the whole run fell within that millisecond; on a busy
  // machine some do not.
  timer_t* t = nullptr;
  bool checked_equal = false;
  for (int attempt = 0; attempt < 1000 && !checked_equal; ++attempt) {
    fired.clear();
    queue.set_timer(t, 0, false, "t", note("t"));
    const uint64_t deadline = t->deadline.value();
    queue.run_due_timers();
    checked_equal = now_ms() == deadline;
    if (checked_equal) {
      EXPECT_TRUE(fired.empty());
    }
  }
  ASSERT_TRUE(checked_equal) << "never ran within the deadline's millisecond";
  wait_past(t);
  queue.run_due_timers();
  EXPECT_EQ(fired, std::vector<std::string>{"t"});
}

TEST_F(TimerQueueTest, ReArmingMovesTheTimerAndKeepsOneRecord) {
  timer_t* first = nullptr;
  timer_t* second = nullptr;
  queue.set_timer(first, 30, false, "first", note("first"));
  queue.set_timer(second, 60, false, "second", note("second"));
  timer_t* const record = first;
  const size_t blocks = Core_Common::live_blocks();

  queue.set_timer(first, 300, false, "ignored", note("first again"));
  EXPECT_EQ(first, record);
  EXPECT_STREQ(first->name, "first");
  EXPECT_EQ(queue.armed_count(), 2u);
  EXPECT_EQ(Core_Common::live_blocks(), blocks);

  wait_past(second);
  queue.run_due_timers();
  EXPECT_EQ(fired, std::vector<std::string>{"second"});
  wait_past(first);
  queue.run_due_timers();
  EXPECT_EQ(fired, (std::vector<std::string>{"second", "first again"}));
}

TEST_F(TimerQueueTest, AOneShotClearsItsHandleBeforeItsCallbackRuns) {
  timer_t* t = nullptr;
  bool handle_was_clear = false;
  queue.set_timer(t, 0, false, "rearm", [&] {
    handle_was_clear = t == nullptr;
    queue.set_timer(t, 1000, false, "rearm", note("never"));
  });
  wait_past(t);
  queue.run_due_timers();
  EXPECT_TRUE(handle_was_clear);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(queue.armed_count(), 1u);
  queue.kill_timer(t);
  EXPECT_EQ(t, nullptr);
  queue.kill_timer(t);  // a null handle does nothing
  EXPECT_EQ(queue.armed_count(), 0u);
}

TEST_F(TimerQueueTest, ALatePeriodicTimerFiresOnceAndDoesNotCatchUp) {
  timer_t* t = nullptr;
  int fires = 0;
  queue.set_timer(t, 100, true, "slow", [&] {
    ++fires;
    ::Sleep(350);
  });
  ::Sleep(120);
  queue.run_due_timers();
  EXPECT_EQ(fires, 1);
  queue.run_due_timers();  // 350 ms late now: once more, not three times
  EXPECT_EQ(fires, 2);
  EXPECT_EQ(queue.armed_count(), 1u);
  queue.kill_timer(t);
}

TEST_F(TimerQueueTest, RecordsComeFromTheBlockPoolAndGoBack) {
  const size_t before = Core_Common::live_blocks();
  timer_t* t[3] = {};
  for (auto& h : t) queue.set_timer(h, 1000, true, "pooled", note("x"));
  EXPECT_EQ(Core_Common::live_blocks(), before + 3);
  for (auto& h : t) queue.kill_timer(h);
  EXPECT_EQ(Core_Common::live_blocks(), before);
}

}  // namespace
}  // namespace Core_Common
