// The thread helpers against a running Qt event loop.
#include "installer/thread_helpers.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <future>

#include <gtest/gtest.h>

#include "installer/atomic.h"

namespace {
using quillo::Queue;

TEST(ThreadHelpersTest, MainThreadHelperRunsInlineOnMain) {
  bool ran = false;
  quillo::runBlockOnMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(ThreadHelpersTest, MainThreadHelperPostsFromElsewhere) {
  std::atomic<bool> ran{false};
  std::atomic<bool> ranBeforeReturn{false};
  std::atomic<bool> onMain{false};
  std::thread([&] {
    quillo::runBlockOnMainThread([&] {
      onMain = quillo::isMainThread();
      ran = true;
    });
    ranBeforeReturn = ran.load();
  }).join();
  EXPECT_FALSE(ranBeforeReturn);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ran.load(); }, 5000));
  EXPECT_TRUE(onMain);
}

TEST(ThreadHelpersTest, BackgroundHelperPostsFromMainAndRunsInlineElsewhere) {
  std::atomic<bool> onMain{true};
  std::atomic<bool> ran{false};
  quillo::runBlockOnBackgroundThread([&] {
    onMain = quillo::isMainThread();
    ran = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return ran.load(); }, 5000));
  EXPECT_FALSE(onMain);

  std::thread([] {
    bool inlineRan = false;
    quillo::runBlockOnBackgroundThread([&] { inlineRan = true; });
    EXPECT_TRUE(inlineRan);
  }).join();
}

TEST(ThreadHelpersTest, QueueHelperRunsInlineOnlyWhenTheLabelMatches) {
  auto queue = Queue::makeSerial("helpers.q");
  auto twin = Queue::makeSerial("helpers.q");
  std::promise<std::pair<bool, bool>> result;
  queue->async([&] {
    bool inlineSame = false;
    bool inlineTwin = false;
    quillo::runBlockOnQueue(queue, [&] { inlineSame = true; });
    quillo::runBlockOnQueue(twin, [&] { inlineTwin = true; });  // same label counts as same queue
    result.set_value({inlineSame, inlineTwin});
  });
  auto [same, twinInline] = result.get_future().get();
  EXPECT_TRUE(same);
  EXPECT_TRUE(twinInline);
}

TEST(ThreadHelpersTest, QueueWithEmptyLabelAlwaysHops) {
  auto queue = Queue::makeSerial("");
  std::promise<bool> inlineRan;
  std::atomic<bool> hopped{false};
  queue->async([&] {
    bool ran = false;
    quillo::runBlockOnQueue(queue, [&] {
      ran = true;
      hopped = true;
    });
    inlineRan.set_value(ran);
  });
  EXPECT_FALSE(inlineRan.get_future().get());
  ASSERT_TRUE(QTest::qWaitFor([&] { return hopped.load(); }, 5000));
}

TEST(ThreadHelpersTest, MainQueueLabelMatchesOnTheGuiThread) {
  EXPECT_TRUE(quillo::DispatchBridge::inQueue(Queue::main()));
  EXPECT_FALSE(quillo::DispatchBridge::inQueueForLabel(nullptr));
  EXPECT_FALSE(quillo::DispatchBridge::inQueueForLabel(""));
  std::thread([] { EXPECT_FALSE(quillo::DispatchBridge::inQueue(Queue::main())); }).join();
}

TEST(AtomicTest, ReadModifyWriteIsOneCriticalSection) {
  quillo::Atomic<std::vector<int>> box;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) box.withValue([](auto& v) { v.push_back(1); });
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(box.get().size(), 8000u);
  box.set({});
  EXPECT_TRUE(box.get().empty());
}

}  // namespace
