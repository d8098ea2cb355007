#include <gtest/gtest.h>

#include <thread>

#include "base/BoundedStream.h"
#include "base/ManualExecutor.h"
#include "base/Observable.h"
#include "base/ResultStream.h"

using namespace zarn;

// Items wait for the subscriber; the end (a finish, or a failure with its description) comes
// once, after them, and nothing after it.
TEST(ResultStream, BuffersUntilSubscribedThenDeliversInOrderAndEndsOnce) {
    for (bool failing : {false, true}) {
        ManualExecutor ex;
        auto stream = ResultStream<std::string>::make();
        stream->yield("1");
        std::vector<std::string> events;
        stream->subscribe(ex, [&](std::string s) { events.push_back(s); },
                          [&](std::exception_ptr e) { events.push_back(e ? "failed: " + describeError(e) : "end"); });
        stream->yield("2");
        if (failing) stream->fail(makeError<MessageError>("engine crashed"));
        stream->finish();
        stream->yield("3");  // after the end: ignored
        stream->finish();
        ex.runUntilIdle();
        EXPECT_EQ(events, (std::vector<std::string>{"1", "2", failing ? "failed: engine crashed" : "end"}));
    }
}

TEST(ResultStream, CancelStopsDeliveryAndTellsTheProducer) {
    ManualExecutor ex;
    auto stream = ResultStream<int>::make();
    bool terminated = false;
    stream->onTermination([&] { terminated = true; });
    int delivered = 0;
    stream->subscribe(ex, [&](int) { ++delivered; }, [&](std::exception_ptr) { ++delivered; });
    stream->yield(1);
    stream->cancel();
    stream->yield(2);
    stream->finish();
    ex.runUntilIdle();
    EXPECT_EQ(delivered, 0);
    EXPECT_TRUE(terminated);
    EXPECT_TRUE(stream->isCancelled());
}

TEST(ResultStream, ProducerOnAnotherThreadLosesNothing) {
    ManualExecutor ex;
    auto stream = ResultStream<int>::make();
    long sum = 0;
    bool ended = false;
    stream->subscribe(ex, [&](int v) { sum += v; }, [&](std::exception_ptr) { ended = true; });
    std::thread producer([stream] {
        for (int i = 1; i <= 10000; ++i) stream->yield(i);
        stream->finish();
    });
    ASSERT_TRUE(ex.runUntil([&] { return ended; }));
    producer.join();
    EXPECT_EQ(sum, 10000L * 10001 / 2);
}

TEST(BoundedStream, KeepsTheNewest64AndDropsTheOldest) {
    ManualExecutor ex;
    auto stream = BoundedStream<int>::make(64);
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(stream->push(i));
    EXPECT_EQ(stream->size(), 64u);
    EXPECT_EQ(stream->droppedCount(), 36u);
    stream->finish();
    EXPECT_FALSE(stream->push(1000));
    std::vector<int> got;
    bool ended = false;
    std::function<void()> pull = [&] {
        stream->next(ex, [&](std::optional<int> v) {
            if (!v) {
                ended = true;
                return;
            }
            got.push_back(*v);
            pull();
        });
    };
    pull();
    ex.runUntilIdle();
    ASSERT_EQ(got.size(), 64u);
    EXPECT_EQ(got.front(), 36);
    EXPECT_EQ(got.back(), 99);
    EXPECT_TRUE(ended);
}

TEST(BoundedStream, AWaitingRequestIsAnsweredByTheNextPushOrByCancel) {
    ManualExecutor ex;
    auto stream = BoundedStream<int>::make(4);
    std::optional<int> got;
    bool answered = false;
    stream->next(ex, [&](std::optional<int> v) {
        answered = true;
        got = v;
    });
    ex.runUntilIdle();
    EXPECT_FALSE(answered);
    stream->push(7);
    ex.runUntilIdle();
    EXPECT_EQ(got, 7);

    stream->push(8);
    stream->cancel();  // discards what waits
    answered = false;
    stream->next(ex, [&](std::optional<int> v) {
        answered = true;
        got = v;
    });
    ex.runUntilIdle();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(got.has_value());
}

TEST(Observable, NotifiesOnlyRealChangesAndStopsWhenTheHandleGoes) {
    Observable<std::string> value("a");
    std::vector<std::string> seen;
    auto sub = value.subscribe([&](const std::string& v) { seen.push_back(v); });
    EXPECT_FALSE(value.set("a"));
    EXPECT_TRUE(value.set("b"));
    {
        auto second = value.subscribe([&](const std::string& v) { seen.push_back("2:" + v); });
        value.set("c");
    }
    value.set("d");
    sub.reset();
    value.set("e");
    EXPECT_EQ(seen, (std::vector<std::string>{"b", "c", "2:c", "d"}));
    EXPECT_EQ(value.get(), "e");
    EXPECT_EQ(value.observerCount(), 0u);

    // An observer may unsubscribe another during a notification.
    Subscription second;
    int secondCalls = 0;
    auto first = value.subscribe([&](const std::string&) { second.reset(); });
    second = value.subscribe([&](const std::string&) { ++secondCalls; });
    value.set("f");
    EXPECT_EQ(secondCalls, 0);
}
