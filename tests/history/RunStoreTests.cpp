#include <gtest/gtest.h>

#include <cmath>

#include "base/Dates.h"
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

TEST(RunStore, LoadsAtStartAndReloadsAfterEveryChange) {
    test::TempDir dir;
    auto file = dir / "runs.jsonl";
    auto first = makeRun("first");
    test::writeFile(file, *encodeRunLine(first) + "\n");

    RunStore store(std::make_shared<RunLog>(file));
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

TEST(RunStore, RecordThatCannotBeStoredLeavesTheListAsItWas) {
    test::TempDir dir;
    RunStore store(std::make_shared<RunLog>(dir / "runs.jsonl"));
    auto run = makeRun("nan");
    run.audioSeconds = std::nan("");
    store.record(run);
    EXPECT_TRUE(store.runs().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "runs.jsonl"));
}

}  // namespace
}  // namespace zarn
