// The helper threads the calls share: every task runs once, failures reach
// the caller, callers on many threads never wait for each other's helpers
// (nor deadlock when a task asks for helpers itself), analyses on several
// threads run alone, and a child of fork() runs its calls alone.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/parallel.h"

namespace {

using morvik::parallelFor;

// Runs count tasks on `threads` and checks that each ran once, on a worker
// below `threads`.
void runAll(long count, int threads) {
  std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
  std::atomic<bool> bad_worker{false};
  parallelFor(count, threads, [&](long task, int worker) {
    if (worker < 0 || worker >= std::max(threads, 1)) bad_worker = true;
    ++runs[static_cast<size_t>(task)];
  });
  for (long i = 0; i < count; ++i) ASSERT_EQ(1, runs[static_cast<size_t>(i)].load()) << "task " << i;
  EXPECT_FALSE(bad_worker);
}

TEST(ParallelFor, RunsEveryTaskOnce) {
  for (long count : {0L, 1L, 2L, 7L, 1000L})
    for (int threads : {0, 1, 2, 5, 16}) runAll(count, threads);
}

TEST(ParallelFor, RethrowsTheFirstFailureAndStaysUsable) {
  for (int round = 0; round < 20; ++round) {
    EXPECT_THROW(parallelFor(100, 4,
                             [](long task, int) {
                               if (task == 37) throw std::runtime_error("task 37");
                             }),
                 std::runtime_error);
  }
  runAll(100, 4);
}

TEST(ParallelFor, CallersOnManyThreadsAllFinish) {
  std::vector<std::thread> callers;
  std::atomic<long> total{0};
  for (int t = 0; t < 6; ++t) {
    callers.emplace_back([&total] {
      for (int round = 0; round < 200; ++round)
        parallelFor(16, 3, [&total](long, int) { total.fetch_add(1, std::memory_order_relaxed); });
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(6L * 200 * 16, total.load());
}

TEST(ParallelFor, TasksMayAskForHelpersThemselves) {
  std::atomic<long> inner{0};
  parallelFor(8, 4, [&inner](long, int) {
    parallelFor(8, 4, [&inner](long, int) { ++inner; });
  });
  EXPECT_EQ(64, inner.load());
}

TEST(ParallelFor, AnalysesOnSeveralThreadsRunAlone) {
  morvik::enterAnalysis();
  const int one = morvik::callThreads();
  morvik::enterAnalysis();
  EXPECT_EQ(1, morvik::callThreads());
  morvik::leaveAnalysis();
  EXPECT_EQ(one, morvik::callThreads());
  morvik::leaveAnalysis();
}

TEST(ParallelFor, ChildOfForkRunsItsCallsAlone) {
  runAll(64, 4);  // the helpers exist in the parent
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    alarm(20);  // a hang ends the child with SIGALRM
    std::atomic<long> done{0};
    parallelFor(64, 4, [&done](long, int) { ++done; });
    _exit(done == 64 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status)) << "the child hung or crashed";
  EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
