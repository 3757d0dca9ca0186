#include "threadpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_util.h"

namespace {

std::atomic<int> runs{0};

TEST(ThreadpoolTest, WorkersRunEveryQueuedTask) {
  runs = 0;
  threadpool* pool = threadpool_init(2);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->thread_count, 2);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(threadpool_add_task(pool, CountRun, &runs, 1), 0);
  for (int i = 0; i < 500 && runs.load() < 500; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(runs.load(), 500);
  threadpool_free(pool, 1);
}

TEST(ThreadpoolTest, PoolWithoutWorkersAcceptsTasksUntilItsRecordsRunOut) {
  runs = 0;
  threadpool* pool = threadpool_init(0);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->thread_count, 0);
  for (uint32_t i = 0; i < kThreadpoolCapacity; ++i) {
    ASSERT_EQ(threadpool_add_task(pool, CountRun, &runs, 0), 0) << i;
  }
  EXPECT_EQ(threadpool_add_task(pool, CountRun, &runs, 0), -2);
  EXPECT_EQ(runs.load(), 0);
  threadpool_free(pool, 1);
}

TEST(ThreadpoolTest, NullPoolRefusesTasks) {
  EXPECT_EQ(threadpool_add_task(nullptr, CountRun, &runs, 0), -1);
}

}  // namespace
