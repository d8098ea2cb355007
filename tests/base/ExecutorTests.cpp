#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "base/EventLoop.h"
#include "base/ManualExecutor.h"
#include "base/Reply.h"
#include "base/SerialExecutor.h"

using namespace zarn;
using namespace std::chrono_literals;

TEST(ManualExecutor, RunsPostedTasksInOrderIncludingNestedPosts) {
    ManualExecutor ex;
    std::vector<int> order;
    ex.post([&] {
        order.push_back(1);
        ex.post([&] { order.push_back(3); });
    });
    ex.post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());  // nothing runs until driven
    EXPECT_EQ(ex.runUntilIdle(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ManualExecutor, VirtualTimeFiresTimersByDeadlineThenPostingOrderUnlessCancelled) {
    ManualExecutor ex;
    auto start = ex.now();
    std::vector<std::string> fired;
    ex.postAfter(300ms, [&] { fired.push_back("c@" + std::to_string((ex.now() - start) / 1ms)); });
    ex.postAfter(100ms, [&] { fired.push_back("a@" + std::to_string((ex.now() - start) / 1ms)); });
    ex.postAfter(100ms, [&] { fired.push_back("b"); });
    ex.advanceBy(99ms);
    EXPECT_TRUE(fired.empty());
    ex.advanceBy(1ms);
    EXPECT_EQ(fired, (std::vector<std::string>{"a@100", "b"}));
    ex.advanceBy(1s);
    EXPECT_EQ(fired.back(), "c@300");
    EXPECT_EQ(ex.now() - start, 1100ms);

    // A cancelled timer never runs; a timer may set another.
    int runs = 0;
    auto handle = ex.postAfter(1s, [&] { ++runs; });
    ex.postAfter(500ms, [&] { ex.postAfter(500ms, [&] { runs += 10; }); });
    EXPECT_EQ(ex.pendingTimers(), 2u);
    handle.cancel();
    EXPECT_EQ(ex.pendingTimers(), 1u);
    ex.runAll();
    EXPECT_EQ(runs, 10);
    EXPECT_EQ(ex.pendingTimers(), 0u);
}

TEST(EventLoop, RunsCrossThreadPostsAndTimersUntilQuitOrAPredicate) {
    EventLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        loop.post([&] { order.push_back(1); });
        loop.postAfter(20ms, [&] {
            order.push_back(3);
            loop.quit();
        });
        loop.post([&] { order.push_back(2); });
    });
    loop.run();
    poster.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // runUntil stops on its predicate or its time limit, and a cancelled timer never fires.
    bool fired = false;
    loop.postAfter(10ms, [&] { fired = true; }).cancel();
    EXPECT_FALSE(loop.runUntil([&] { return fired; }, 50ms));
    int count = 0;
    loop.post([&] { ++count; });
    EXPECT_TRUE(loop.runUntil([&] { return count == 1; }, 5s));
    EXPECT_FALSE(loop.isCurrent());
}

TEST(SerialExecutor, KeepsOrderAcrossThreadsAndRunsPendingWorkBeforeDestruction) {
    std::vector<int> seen;
    {
        SerialExecutor serial("test");
        for (int i = 0; i < 1000; ++i) serial.post([&seen, i] { seen.push_back(i); });
        std::atomic<bool> onOwnThread{false};
        serial.post([&] { onOwnThread = serial.isCurrent(); });
        serial.post([&] { EXPECT_TRUE(onOwnThread.load()); });
    }
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
}

// Also how a ManualExecutor collects work posted from another thread.
TEST(Reply, RunsOnTheCallersExecutorAndLifetimeGuardsDeadOwners) {
    ManualExecutor main;
    SerialExecutor actor("actor");
    std::thread::id replyThread;
    int value = 0;
    Reply<int> reply(main, [&](int v) {
        value = v;
        replyThread = std::this_thread::get_id();
    });
    actor.post([reply = std::move(reply)]() mutable { reply(42); });
    ASSERT_TRUE(main.runUntil([&] { return value == 42; }));
    EXPECT_EQ(replyThread, std::this_thread::get_id());

    auto lifetime = std::make_unique<Lifetime>();
    int calls = 0;
    auto guarded = lifetime->guard([&] { ++calls; });
    guarded();
    lifetime.reset();
    guarded();
    EXPECT_EQ(calls, 1);
}

// Every executor names itself current around its tasks, and only there.
TEST(Executor, IsCurrentOnlyInsideItsOwnTasks) {
    ManualExecutor manual;
    EventLoop loop;
    SerialExecutor serial("serial");
    std::vector<std::pair<const Executor*, const Executor*>> seen;  // expected, found
    std::mutex mutex;
    auto note = [&](const Executor* self) {
        std::lock_guard lock(mutex);
        seen.emplace_back(self, self->isCurrent() ? Executor::current() : nullptr);
    };
    manual.post([&] { note(&manual); });
    loop.post([&] {
        note(&loop);
        loop.quit();
    });
    serial.post([&] {
        note(&serial);
        manual.post([] {});  // wakes runUntil below
    });
    manual.runUntilIdle();
    loop.run();
    manual.runUntil([&] {
        std::lock_guard lock(mutex);
        return seen.size() == 3;
    });
    for (const auto& [expected, found] : seen) EXPECT_EQ(found, expected);
    EXPECT_EQ(Executor::current(), nullptr);
    EXPECT_FALSE(manual.isCurrent() || loop.isCurrent() || serial.isCurrent());
}

TEST(SequenceChecker, AcceptsItsThreadAndFirstExecutorOnly) {
    ManualExecutor main, other;
    SequenceChecker checker;
    EXPECT_TRUE(checker.calledOnValidSequence());
    bool onMain = false, onOther = true, onThread = true;
    main.post([&] { onMain = checker.calledOnValidSequence(); });
    main.runUntilIdle();
    other.post([&] { onOther = checker.calledOnValidSequence(); });
    other.runUntilIdle();
    std::thread([&] { onThread = checker.calledOnValidSequence(); }).join();
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(onOther);
    EXPECT_FALSE(onThread);
    checker.detach();
    std::thread([&] { onThread = checker.calledOnValidSequence(); }).join();
    EXPECT_TRUE(onThread);
}

TEST(ReplyDeathTest, ReportsASecondCallAndALostReplyButNotAnOptionalOrDiscardedOne) {
    if (!kDchecksOn) GTEST_SKIP() << "debug checks are off in this build";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ManualExecutor main;
    EXPECT_DEATH(
        {
            Reply<> reply(main, [] {});
            reply();
            reply();
        },
        "called twice");
    EXPECT_DEATH({ Reply<> reply(main, [] {}); }, "destroyed without being called");
    EXPECT_DEATH(
        {
            SequenceChecker checker;
            std::thread([&] { ZARN_DCHECK_SEQUENCE(checker); }).join();
        },
        "off its sequence");
    { auto optional = Reply<>::optional(main, [] {}); }
    {
        // A closing executor drops the reply it still holds.
        ManualExecutor closing;
        closing.post([reply = Reply<>(main, [] {})] {});
    }
}


