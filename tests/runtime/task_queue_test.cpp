#include "runtime/task_queue.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/clock.h"

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

}  // namespace
}  // namespace Core_Common
