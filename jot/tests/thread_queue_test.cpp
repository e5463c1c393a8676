#include "jot/thread_queue.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "jot/timer_runer.h"

extern char** environ;

namespace {

using vela::comm::CThreadWarp;
using vela::comm::ThreadQueue;
using vela::comm::TimerRuner;

struct Recorder {
  std::vector<int> seen;
  std::promise<void> done;
};

TEST(ThreadQueue, RunsCallsInOrderAndKeepsTheirObjectsAlive) {
  auto recorder = std::make_shared<Recorder>();
  std::future<void> done = recorder->done.get_future();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(ThreadQueue::RunWithTarget(
        recorder,
        [](void* target, void* arg) {
          auto* r = static_cast<Recorder*>(target);
          r->seen.push_back(*static_cast<int*>(arg));
          if (r->seen.size() == 3) r->done.set_value();
        },
        std::make_shared<int>(i)));  // the queue alone keeps the argument
  }
  done.wait();
  EXPECT_EQ(recorder->seen, (std::vector<int>{0, 1, 2}));
}

TEST(ThreadQueue, RefusesACallWithoutTargetOrSelector) {
  EXPECT_FALSE(ThreadQueue::RunWithTarget(nullptr, [](void*, void*) {}, nullptr));
  EXPECT_FALSE(ThreadQueue::RunWithTarget(std::make_shared<int>(1), nullptr, nullptr));
  EXPECT_FALSE(ThreadQueue::Run(CThreadWarp{}));
  // Run directly, a wrapper missing either one does nothing.
  vela::comm::ThreadWarp noSelector;
  noSelector.m_target = std::make_shared<int>(1);
  noSelector.Run();
  vela::comm::ThreadWarp noTarget;
  noTarget.m_sel = [](void*, void*) { FAIL() << "called without a target"; };
  noTarget.Run();
}

std::promise<void>* gPlainDone = nullptr;

TEST(ThreadQueue, CWrapperPrefersTheFunctionWithArgument) {
  std::promise<int> withArg;
  CThreadWarp both;
  both.m_funp = [](void* arg) { static_cast<std::promise<int>*>(arg)->set_value(1); };
  both.m_fun = [] { FAIL() << "the argument form comes first"; };
  both.m_arg = &withArg;
  ASSERT_TRUE(ThreadQueue::Run(both));
  EXPECT_EQ(withArg.get_future().get(), 1);

  std::promise<void> plain;
  gPlainDone = &plain;
  CThreadWarp noArg;
  noArg.m_fun = [] { gPlainDone->set_value(); };
  ASSERT_TRUE(ThreadQueue::Run(noArg));
  plain.get_future().wait();
}

TEST(ThreadQueueExit, ChildQueuesACallThatNeverReturns) {
  if (!std::getenv("JOT_QUEUE_CHILD")) GTEST_SKIP() << "helper of ThreadQueue.ExitDoesNotWaitForABlockedCall";
  std::promise<void> started;
  CThreadWarp forever;
  forever.m_funp = [](void* arg) {
    static_cast<std::promise<void>*>(arg)->set_value();
    for (;;) ::pause();
  };
  forever.m_arg = &started;
  ASSERT_TRUE(ThreadQueue::Run(forever));
  CThreadWarp never;
  never.m_fun = [] { std::abort(); };  // queued behind it: dropped at exit
  ASSERT_TRUE(ThreadQueue::Run(never));
  started.get_future().wait();
}  // then the process exits

TEST(ThreadQueue, ExitDoesNotWaitForABlockedCall) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=ThreadQueueExit.ChildQueuesACallThatNeverReturns";
  char* argv[] = {self.data(), filter.data(), nullptr};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.emplace_back("JOT_QUEUE_CHILD=1");
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t child = -1;
  ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  // Generous: the child ends at once unless its exit waits for the call.
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 3000 && done == 0; ++i) {
    done = ::waitpid(child, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_NE(done, 0) << "exit waited for the blocked call";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(TimerRuner, RunInvalidatesAndForgetsOnlyThatTimer) {
  int first = 0;
  int second = 0;
  auto object = std::make_shared<int>(7);
  TimerRuner::Add(&first, [&] { ++first; }, object);
  TimerRuner::Add(&second, [&] { ++second; }, nullptr);
  EXPECT_EQ(object.use_count(), 2);
  EXPECT_TRUE(TimerRuner::Run(&first));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(object.use_count(), 1);  // released with its entry
  EXPECT_FALSE(TimerRuner::Run(&first));
  EXPECT_TRUE(TimerRuner::Run(&second));
}

}  // namespace
