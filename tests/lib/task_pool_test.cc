// Its own process: the pool is created by the first task of the process.
#include "task_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_util.h"

namespace {

std::atomic<int> runs{0};

TEST(TaskPoolTest, FirstTaskCreatesThePoolLaterTasksReuseIt) {
  EXPECT_EQ(taskPoolWorkerCount(), -1);
  ASSERT_EQ(queueWorkTask(CountRun, &runs, 3), 0);
  EXPECT_EQ(taskPoolWorkerCount(), 3);
  ASSERT_EQ(queueWorkTask(CountRun, &runs, 5), 0);
  EXPECT_EQ(taskPoolWorkerCount(), 3);
  for (int i = 0; i < 400 && runs.load() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(runs.load(), 2);
}

}  // namespace
