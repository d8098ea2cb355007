#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/ManualExecutor.h"
#include "cleanup/FakeLanguageModel.h"
#include "cleanup/FoundationModelFormatter.h"
#include "cleanup/ModelAvailabilityCache.h"
#include "support/LogCapture.h"
#include "strings/CurrentStrings.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::FakeLanguageModel;
using test::LogCapture;

const std::string kFailedTimeout = "Foundation model cleanup failed (on-device cleanup timed out) — falling back";
const std::string kRejected = "Foundation model output rejected — using rule-based cleanup";
const std::string kUnavailable = "Foundation model unavailable — using rule-based cleanup";

Result<std::string> answer(std::string text) { return Result<std::string>(std::move(text)); }
Result<std::string> failure(LanguageModelError::Kind kind, std::string message = {}) {
    return Result<std::string>(makeError<LanguageModelError>(kind, std::move(message)));
}

class SmartCleanup : public ::testing::Test {
protected:
    ManualExecutor executor;
    std::shared_ptr<FakeLanguageModel> model = std::make_shared<FakeLanguageModel>(executor);
    LogCapture logs;
    std::vector<std::string> answers;

    // The formatter is gone when format() returns: the call keeps what it needs.
    void format(const std::string& text, Duration timeout = 500ms) {
        FoundationModelFormatter formatter(model, executor, timeout);
        formatter.format(text, Reply<std::string>(executor, [this](std::string s) { answers.push_back(std::move(s)); }));
    }
    // Runs everything, timers included, and returns the one answer.
    std::string formatAll(const std::string& text, Duration timeout = 500ms) {
        answers.clear();
        format(text, timeout);
        executor.runAll();
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? std::string() : answers.back();
    }
};

TEST_F(SmartCleanup, BlankInputTouchesNothing) {
    EXPECT_EQ(formatAll(" \n\t "), "");
    EXPECT_EQ(model->availabilityChecks, 0);
    EXPECT_TRUE(model->requests.empty());
    EXPECT_EQ(logs.count(), 0u);
}

TEST_F(SmartCleanup, UnavailableModelFallsBackToTheRules) {
    for (auto reason : {ModelAvailability::deviceNotEligible, ModelAvailability::notEnabled,
                        ModelAvailability::stillDownloading, ModelAvailability::unavailable}) {
        answers.clear();
        model->availabilityValue = reason;
        EXPECT_EQ(formatAll("  um so uh we ship it  "), RuleBasedFormatter::formatted("um so uh we ship it"));
    }
    EXPECT_TRUE(model->requests.empty());
    EXPECT_EQ(logs.messages(), std::vector<std::string>(4, kUnavailable));
}

TEST_F(SmartCleanup, AvailabilityIsAnsweredAtOnceFromTheLastCheck) {
    model->availabilityDelay = 2s;  // a slow probe: nobody waits on it
    ModelAvailabilityCache cache(model, executor);
    std::vector<ModelAvailability> heard;
    auto subscription = cache.observe([&](ModelAvailability a) { heard.push_back(a); });
    EXPECT_FALSE(cache.hasAnswered());
    EXPECT_FALSE(FoundationModelFormatter::isAvailable(cache));
    executor.advanceBy(2s);
    EXPECT_TRUE(FoundationModelFormatter::isAvailable(cache));
    EXPECT_EQ(FoundationModelFormatter::unavailableReason(cache), std::nullopt);

    const auto& english = Strings::english().modelAvailability;
    struct Row {
        ModelAvailability availability;
        std::string text;
    };
    for (const auto& row : {Row{ModelAvailability::deviceNotEligible, english.deviceNotEligible},
                            Row{ModelAvailability::notEnabled, english.notEnabled},
                            Row{ModelAvailability::stillDownloading, english.stillDownloading},
                            Row{ModelAvailability::unavailable, english.unavailable}}) {
        model->availabilityValue = row.availability;
        const auto before = cache.availability();
        cache.refreshAvailability();
        cache.refreshAvailability();  // folded into the one under way, and one more after it
        EXPECT_EQ(cache.availability(), before) << "the old answer stands until the new one";
        executor.runAll();
        EXPECT_FALSE(FoundationModelFormatter::isAvailable(cache));
        EXPECT_EQ(FoundationModelFormatter::unavailableReason(cache), row.text);
    }
    EXPECT_EQ(model->availabilityChecks, 9);
    EXPECT_EQ(heard, (std::vector<ModelAvailability>{ModelAvailability::available, ModelAvailability::deviceNotEligible,
                                                     ModelAvailability::notEnabled, ModelAvailability::stillDownloading,
                                                     ModelAvailability::unavailable}));

    CurrentStrings::set(Strings::russian());
    EXPECT_EQ(FoundationModelFormatter::unavailableReason(ModelAvailability::unavailable),
              Strings::russian().modelAvailability.unavailable);
    CurrentStrings::set(Strings::english());
}

TEST_F(SmartCleanup, TheBudgetCoversTheAvailabilityCheck) {
    auto cache = std::make_shared<ModelAvailabilityCache>(model, executor);
    executor.runAll();
    model->availabilityDelay = 10s;  // the server hangs
    FoundationModelFormatter(model, executor, 4s, cache)
        .format("um so we ship it", Reply<std::string>(executor, [this](std::string s) { answers.push_back(s); }));
    executor.advanceBy(4s);
    EXPECT_EQ(answers, std::vector<std::string>{"So we ship it."});
    EXPECT_EQ(logs.messages(), std::vector<std::string>{kFailedTimeout});
    // The late answer neither starts a model call nor answers again; the cache learns it
    // and, after the failure, asks once more.
    model->availabilityValue = ModelAvailability::stillDownloading;
    executor.runAll();
    EXPECT_TRUE(model->requests.empty());
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_EQ(model->availabilityChecks, 3);
    EXPECT_EQ(cache->availability(), ModelAvailability::stillDownloading);
}

TEST_F(SmartCleanup, AsksOneFreshRequestPerTranscript) {
    model->script = {{answer("We ship it tomorrow."), 10ms}, {answer("Hello there."), 10ms}};
    EXPECT_EQ(formatAll("um so we ship it tomorrow"), "We ship it tomorrow.");
    EXPECT_EQ(formatAll("hello there"), "Hello there.");

    ASSERT_EQ(model->requests.size(), 2u);
    const auto& request = model->requests[0];
    const auto& instructions = request.instructions;
    EXPECT_EQ(instructions.substr(0, 90),
              "You clean up raw speech-to-text transcripts. You are a text processor, not an assistant.\n\n");
    EXPECT_NE(instructions.find("\n- Apply the speaker's self-corrections. \"Send it Tuesday, actually Wednesday\" "
                                "becomes \"Send it Wednesday.\"\n"),
              std::string::npos);
    EXPECT_TRUE(instructions.ends_with("Do not summarize, expand, translate, or improve the writing."));
    EXPECT_EQ(request.prompt, "Clean up this transcript:\n\num so we ship it tomorrow");
    EXPECT_DOUBLE_EQ(request.temperature, 0.1);
    EXPECT_EQ(request.maximumResponseTokens, 1200);
    EXPECT_EQ(model->requests[1].prompt, "Clean up this transcript:\n\nhello there");
    EXPECT_EQ(model->requests[1].instructions, instructions);
    EXPECT_TRUE(logs.messages().empty());
}

TEST_F(SmartCleanup, AcceptedAnswerIsTrimmedAndTheTimerEnds) {
    model->script = {{answer("  \nSend it Wednesday.\n "), 100ms}};
    format("  send it tuesday actually wednesday ");
    executor.advanceBy(100ms);
    EXPECT_EQ(answers, std::vector<std::string>{"Send it Wednesday."});
    EXPECT_EQ(executor.pendingTimers(), 0u);
    EXPECT_EQ(model->cancels, 0);
    // Nothing fires later: the losing timer was cancelled.
    executor.runAll();
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_TRUE(logs.messages().empty());
}

TEST_F(SmartCleanup, ImplausibleAnswersFallBack) {
    struct Row {
        std::string input;
        std::string modelAnswer;
        std::vector<std::string> logLines;
    };
    const std::vector<Row> rows = {
        // Preamble: already rejected as invented words.
        {"we ship it tomorrow", "Here's the cleaned transcript: We ship it tomorrow.",
         {"cleanup rejected — invented words: 3", kRejected}},
        // Preamble made of spoken words: only the marker check catches it, without a log of its own.
        {"sure we ship it tomorrow", "Sure, we ship it tomorrow.", {kRejected}},
        // Invented words: counted, never named (they may quote what was said).
        {"we ship it", "We ship it to Berlin via Paris on Monday with Anna.",
         {"cleanup rejected — invented words: 8", kRejected}},
        // Empty answer.
        {"we ship it", "   ", {kRejected}},
    };
    for (const auto& row : rows) {
        answers.clear();
        LogCapture rowLogs;
        model->script = {{answer(row.modelAnswer), 10ms}};
        EXPECT_EQ(formatAll(row.input), RuleBasedFormatter::formatted(row.input)) << row.modelAnswer;
        EXPECT_EQ(rowLogs.messages(), row.logLines) << row.modelAnswer;
    }
}

TEST_F(SmartCleanup, ModelErrorsAreDescribedAndFallBack) {
    using Kind = LanguageModelError::Kind;
    struct Row {
        Result<std::string> result;
        std::string description;
    };
    const std::vector<Row> rows = {
        {failure(Kind::exceededContextWindowSize), "input exceeded the context window"},
        {failure(Kind::refusal), "model refused the content"},
        {failure(Kind::other, "language-model server answered HTTP 500"), "language-model server answered HTTP 500"},
        {Result<std::string>(std::make_exception_ptr(std::runtime_error("socket closed"))), "socket closed"},
    };
    for (const auto& row : rows) {
        answers.clear();
        LogCapture rowLogs;
        model->script = {{row.result, 20ms}};
        EXPECT_EQ(formatAll("um we ship it"), "We ship it.");
        EXPECT_EQ(rowLogs.messages(),
                  std::vector<std::string>{"Foundation model cleanup failed (" + row.description + ") — falling back"});
    }
    EXPECT_EQ(model->cancels, 0);
}

// A silent model is cancelled at the timeout and the rules answer; one answering just before it wins.
TEST_F(SmartCleanup, TheModelHasUntilTheTimeout) {
    EXPECT_EQ(FoundationModelFormatter(model, executor).timeout(), 4s);
    for (std::optional<Duration> answerAfter : {std::optional<Duration>(), std::optional<Duration>(499ms)}) {
        answers.clear();
        model->cancels = 0;
        LogCapture rowLogs;
        model->script = {{answerAfter ? std::optional(answer("We ship it.")) : std::nullopt, answerAfter.value_or(0ms)}};
        format("um so we ship it", 500ms);
        executor.advanceBy(499ms);
        EXPECT_EQ(answers.size(), answerAfter ? 1u : 0u);
        EXPECT_EQ(model->cancels, 0);
        executor.advanceBy(1ms);
        EXPECT_EQ(answers, std::vector<std::string>{answerAfter ? "We ship it." : "So we ship it."});
        EXPECT_EQ(model->cancels, answerAfter ? 0 : 1);
        EXPECT_EQ(rowLogs.messages(), answerAfter ? std::vector<std::string>{} : std::vector<std::string>{kFailedTimeout});
    }
}

TEST_F(SmartCleanup, AnswersOnlyAfterTheCancelledModelWoundDown) {
    model->windDown = 300ms;
    model->script = {{answer("We ship it."), 400ms}};  // would answer during the wind-down
    format("we ship it", 200ms);
    executor.advanceBy(200ms);
    EXPECT_EQ(model->cancels, 1);
    EXPECT_TRUE(answers.empty());
    executor.advanceBy(199ms);
    EXPECT_TRUE(answers.empty());
    executor.advanceBy(1ms);  // the late answer loses to the timeout that already decided
    EXPECT_EQ(answers, std::vector<std::string>{"We ship it."});
    EXPECT_EQ(logs.messages(), std::vector<std::string>{kFailedTimeout});
    executor.runAll();
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_EQ(model->answered, 1);
}

TEST(SmartCleanupWords, ContentWordsAndSpokenCount) {
    using F = FoundationModelFormatter;
    EXPECT_EQ(F::contentWords("um so we ship it tomorrow"),
              (std::vector<std::string>{"um", "we", "ship", "it", "tomorrow"}));
    EXPECT_EQ(F::spokenWordCount("um so we ship it tomorrow"), 4u);
    EXPECT_EQ(F::spokenWordCount("send it tuesday actually wednesday"), 4u);
    EXPECT_EQ(F::contentWords("Don't re-use it's, THE end!"), (std::vector<std::string>{"don", "use", "it", "end"}));
    EXPECT_EQ(F::contentWords("2 apples, 2 pears"), (std::vector<std::string>{"2", "apples", "2", "pears"}));
    EXPECT_EQ(F::contentWords("Привет, МИР! snake_case"), (std::vector<std::string>{"привет", "мир", "snake", "case"}));
    EXPECT_EQ(F::spokenWordCount("um uh"), 0u);
    EXPECT_TRUE(F::contentWords("... — !").empty());
}

TEST(SmartCleanupWords, PlausibilityChecksInOrder) {
    LogCapture logs;
    using F = FoundationModelFormatter;
    EXPECT_TRUE(F::isPlausibleCleanup("um so we ship it tomorrow", "We ship it tomorrow."));
    EXPECT_TRUE(F::isPlausibleCleanup("send it tuesday actually wednesday", "Send it Wednesday."));
    EXPECT_FALSE(F::isPlausibleCleanup("we ship", ""));
    EXPECT_FALSE(F::isPlausibleCleanup("... !", "ok"));  // input without content words
    EXPECT_TRUE(logs.messages().empty());

    // Only fillers: the denominator is 1.
    EXPECT_TRUE(F::isPlausibleCleanup("um uh", "Um."));
    EXPECT_FALSE(F::isPlausibleCleanup("um uh", "Um, uh."));
    EXPECT_FALSE(F::isPlausibleCleanup("um uh", "Yes."));

    // Both limits pass: 7 of 20 spoken words is 0.35, 3 of 2 is 1.5.
    const std::string twenty = "w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11 w12 w13 w14 w15 w16 w17 w18 w19 w20";
    EXPECT_TRUE(F::isPlausibleCleanup(twenty, "w1 w2 w3 w4 w5 w6 w7"));
    EXPECT_FALSE(F::isPlausibleCleanup(twenty, "w1 w2 w3 w4 w5 w6"));
    EXPECT_TRUE(F::isPlausibleCleanup("ship it", "Ship it, ship."));
    EXPECT_FALSE(F::isPlausibleCleanup("ship it", "Ship it, ship it."));

    // Digits for spoken numbers count as invented.
    EXPECT_FALSE(F::isPlausibleCleanup("send two files", "Send 2 files."));
    // Markers are matched at the start of the lower-cased answer only.
    EXPECT_FALSE(F::isPlausibleCleanup("certainly we ship", "Certainly, we ship."));
    EXPECT_TRUE(F::isPlausibleCleanup("we ship certainly", "We ship, certainly."));
    EXPECT_FALSE(F::isPlausibleCleanup("as an ai we ship", "As an AI we ship."));

    // A long answer finishes (the test is linear in the words).
    std::string many, reordered;
    for (int i = 0; i < 50000; ++i) many += "w" + std::to_string(i) + " ";
    for (int i = 49999; i >= 0; --i) reordered += "w" + std::to_string(i) + " ";
    EXPECT_TRUE(F::isPlausibleCleanup(many, reordered));

    EXPECT_EQ(logs.messages(), (std::vector<std::string>{
                                   "cleanup rejected — length ratio 2.00",
                                   "cleanup rejected — invented words: 1",
                                   "cleanup rejected — length ratio 0.30",
                                   "cleanup rejected — length ratio 2.00",
                                   "cleanup rejected — invented words: 1",
                               }));
}

}  // namespace
}  // namespace zarn
