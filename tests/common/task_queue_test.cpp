#include "common/task_queue.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/clock.h"

namespace Core_Common {
namespace {

TEST(TaskQueue, RunsInPostingOrderAndCancelsByOwner) {
  Task_Queue queue;
  std::vector<int> ran;
  int a, b;
  queue.post_task(&a, [&] { ran.push_back(1); });
  queue.post_task(&b, [&] { ran.push_back(2); });
  queue.post_task(&a, [&] { ran.push_back(3); });
  queue.cancel_tasks(&b);
  queue.run_tasks();
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  EXPECT_EQ(queue.size(), 0u);
}

TEST(TaskQueue, AfterCancelReturnsNoCallbackOfThatOwnerRuns) {
  Task_Queue queue;
  int owner;
  std::atomic<bool> started{false};
  std::atomic<bool> first_done{false};
  std::atomic<bool> second_ran{false};
  queue.post_task(&owner, [&] {
    started = true;
    ::Sleep(300);
    first_done = true;
  });
  queue.post_task(&owner, [&] { second_ran = true; });

  bool first_done_when_cancel_returned = false;
  std::thread canceller([&] {
    while (!started) ::Sleep(1);
    queue.cancel_tasks(&owner);
    first_done_when_cancel_returned = first_done;
  });
  queue.run_tasks();
  canceller.join();
  queue.run_tasks();
  EXPECT_TRUE(first_done_when_cancel_returned);
  EXPECT_FALSE(second_ran);
}

TEST(TaskQueue, ARunStopsAfterTheCallbackThatCrossedOneSecond) {
  Task_Queue queue;
  std::vector<int> ran;
  int owner;
  queue.post_task(&owner, [&] { ::Sleep(600); ran.push_back(1); });
  queue.post_task(&owner, [&] { ::Sleep(600); ran.push_back(2); });
  queue.post_task(&owner, [&] { ran.push_back(3); });
  queue.run_tasks();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(queue.size(), 1u);
  queue.run_tasks();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(Clock, TimestampArithmetic) {
  timestamp_auto start;
  timestamp_auto later = start;
  EXPECT_EQ(later.add_seconds(3), 3000);
  later.add_milliseconds(250);
  EXPECT_EQ(start.milliseconds_until(later), 3250);
  EXPECT_EQ(start.seconds_until(later), 3);
  EXPECT_EQ(later.seconds_until(start), -3);
  ::Sleep(100);  // the tick count moves in coarse steps under Wine
  EXPECT_GE(start.elapsed_milliseconds(), 50);
  EXPECT_LE(start.elapsed_milliseconds(), 2000);
  EXPECT_GE(now_ms(), start.value());
}

}  // namespace
}  // namespace Core_Common
