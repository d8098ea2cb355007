#include <gtest/gtest.h>

#include <cmath>

#include "base/Dates.h"
#include "base/EventLoop.h"
#include "base/ManualExecutor.h"
#include "base/Uuid.h"
#include "history/RunJson.h"
#include "history/RunStore.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

DictationRun makeRun(std::string text) {
    DictationRun run;
    run.id = makeUuid();
    run.date = *parseIso8601("2026-03-01T09:15:42Z");
    run.engine = "Nemotron (streaming)";
    run.audioSeconds = 1.5;
    run.processSeconds = 0.25;
    run.text = std::move(text);
    return run;
}

class RunStoreTest : public ::testing::Test {
protected:
    test::TempDir dir;
    ManualExecutor executor;
    std::filesystem::path file = dir / "runs.jsonl";
};

TEST_F(RunStoreTest, LoadsAtStartAndReloadsAfterEveryChange) {
    auto first = makeRun("first");
    test::writeFile(file, *encodeRunLine(first) + "\n");

    RunStore store(std::make_shared<RunLog>(file), executor, false);
    ASSERT_EQ(store.runs().size(), 1u);
    EXPECT_EQ(store.runs()[0], first);

    std::vector<std::size_t> seen;
    auto subscription = store.observeRuns([&](const std::vector<DictationRun>& runs) { seen.push_back(runs.size()); });

    auto second = makeRun("second");
    second.corrections = std::vector<AppliedCorrection>{{"a", "b", 1}};
    store.record(second);
    ASSERT_EQ(store.runs().size(), 2u);
    EXPECT_EQ(store.runs()[1], second);

    store.reload();  // nothing changed: no one is told
    store.deleteRun(first);
    ASSERT_EQ(store.runs().size(), 1u);
    EXPECT_EQ(store.runs()[0].text, "second");

    store.clear();
    EXPECT_TRUE(store.runs().empty());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(seen, (std::vector<std::size_t>{2, 1, 0}));
}

TEST_F(RunStoreTest, ChangesApplyToTheListUnlessSomeoneElseWroteMeanwhile) {
    RunStore store(std::make_shared<RunLog>(file), executor, false);
    auto mine = makeRun("mine");
    store.record(mine);
    auto foreign = makeRun("foreign");
    RunLog(file).record(foreign);  // unseen: the store does not watch
    auto next = makeRun("next");
    store.record(next);
    EXPECT_EQ(store.runs(), (std::vector<DictationRun>{mine, foreign, next}));
    RunLog(file).record(makeRun("foreign again"));
    store.deleteRun(mine);  // read again: the file holds more than the list
    EXPECT_EQ(store.runs(), RunLog(file).load());
    store.deleteRun(next);  // applied to the list
    EXPECT_EQ(store.runs(), RunLog(file).load());
    EXPECT_EQ(store.runs().size(), 2u);
}

TEST_F(RunStoreTest, RecordThatCannotBeStoredLeavesTheListAsItWas) {
    RunStore store(std::make_shared<RunLog>(file), executor, false);
    auto run = makeRun("nan");
    run.audioSeconds = std::nan("");
    store.record(run);
    EXPECT_TRUE(store.runs().empty());
    EXPECT_FALSE(std::filesystem::exists(file));
}

// Another process (here a second RunLog on the same file) records, deletes and clears; the
// store on the event loop follows, also after the file was created or removed.
TEST_F(RunStoreTest, SeesChangesMadeByOthers) {
    EventLoop loop;
    RunStore store(std::make_shared<RunLog>(file), loop);
    RunLog other(file);
    auto run = makeRun("from the command line");
    auto waitFor = [&](std::size_t count) {
        EXPECT_TRUE(loop.runUntil([&] { return store.runs().size() == count; }, std::chrono::seconds(10)));
    };
    ASSERT_TRUE(other.record(run));
    waitFor(1);
    EXPECT_EQ(store.runs()[0], run);
    ASSERT_TRUE(other.record(makeRun("second")));
    waitFor(2);
    ASSERT_EQ(other.deleteRun(run), 1u);
    waitFor(1);
    ASSERT_TRUE(other.clear());
    waitFor(0);
    ASSERT_TRUE(other.record(run));
    waitFor(1);
}

}  // namespace
}  // namespace zarn
