#include "base/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>

#include "thread_starters.h"

namespace tarnwick {
namespace {

using testing::no_thread;

struct Starter {
  const char* name;
  ThreadStarter start;
  bool own_thread;
};

const Starter kStarters[] = {{"a thread of its own", start_thread, true}, {"no thread to be had", no_thread, false}};

TEST(ParallelTask, HandsBackTheResultFromWhereverTheTaskRan) {
  for (const Starter& starter : kStarters) {
    SCOPED_TRACE(starter.name);
    const std::thread::id caller = std::this_thread::get_id();
    ParallelTask task([] { return std::make_pair(std::this_thread::get_id(), std::string(1000, 'x')); },
                      starter.start);
    EXPECT_EQ(task.on_another_thread(), starter.own_thread);
    auto [ran_on, value] = task.join();
    EXPECT_EQ(value, std::string(1000, 'x'));
    EXPECT_EQ(ran_on == caller, !starter.own_thread);
  }
}

TEST(ParallelTask, VoidTasksRunOnce) {
  for (const Starter& starter : kStarters) {
    SCOPED_TRACE(starter.name);
    int runs = 0;
    ParallelTask task([&] { ++runs; }, starter.start);
    task.join();
    EXPECT_EQ(runs, 1);
  }
}

TEST(ParallelTask, WhatTheTaskThrowsComesBackOnJoin) {
  for (const Starter& starter : kStarters) {
    SCOPED_TRACE(starter.name);
    ParallelTask task([]() -> int { throw std::runtime_error("task failed"); }, starter.start);
    try {
      task.join();
      ADD_FAILURE() << "join returned";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "task failed");
    }
  }
}

// The caller throws while the task runs: the task is waited for instead of the process ending.
TEST(ParallelTask, ThrowingOnTheCallingSideWaitsForARunningTask) {
  std::latch started(1);
  std::atomic<bool> finished = false;
  try {
    ParallelTask task([&] {
      started.count_down();
      finished = true;
    });
    ASSERT_TRUE(task.on_another_thread());
    started.wait();
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(finished);
}

// Without a thread the task was to run in join(), which the caller never reached.
TEST(ParallelTask, ThrowingOnTheCallingSideDropsATaskThatNeverStarted) {
  bool ran = false;
  try {
    ParallelTask task([&] { ran = true; }, no_thread);
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace tarnwick
