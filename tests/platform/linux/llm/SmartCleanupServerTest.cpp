// The smart cleanup end to end: formatter, HTTP backend and a fake server on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/EventLoop.h"
#include "cleanup/FoundationModelFormatter.h"
#include "cleanup/ModelAvailabilityCache.h"
#include "support/LogCapture.h"
#include "support/FakeModelServer.h"
#include "platform/linux/llm/OpenAICompatibleModel.h"

namespace zarn::llm {
namespace {

using namespace std::chrono_literals;
using test::FakeModelServer;

const std::string kRejected = "Foundation model output rejected — using rule-based cleanup";

struct Outcome {
    std::string text;
    std::vector<std::string> logs;
};

Outcome cleanUp(const FakeModelServer::Handler& handler, const std::string& transcript,
                Duration timeout = FoundationModelFormatter::defaultTimeout) {
    test::LogCapture logs;
    FakeModelServer server(handler);
    LlmServerConfig config;
    config.baseUrl = server.baseUrl();
    config.model = "test-model";
    config.probeTimeout = 2s;
    EventLoop loop;
    std::optional<std::string> result;
    {
        FoundationModelFormatter formatter(std::make_shared<OpenAICompatibleModel>(config), loop, timeout);
        formatter.format(transcript, Reply<std::string>(loop, [&](std::string s) { result = s; }));
    }
    EXPECT_TRUE(loop.runUntil([&] { return result.has_value(); }, 30s));
    return {result.value_or("<no answer>"), logs.messages()};
}

FakeModelServer::Handler answering(const std::string& content) {
    return FakeModelServer::modelServer([content](const auto&) { return FakeModelServer::chat(content); });
}

TEST(SmartCleanupServer, GoodAnswerIsUsed) {
    auto outcome = cleanUp(answering("\nWe ship it tomorrow.\n"), "um so we ship it tomorrow");
    EXPECT_EQ(outcome.text, "We ship it tomorrow.");
    EXPECT_TRUE(outcome.logs.empty());
}

TEST(SmartCleanupServer, DoubtfulAnswersFallBackToTheRules) {
    struct Row {
        std::string answer;
        std::vector<std::string> logs;
    };
    const std::string transcript = "um so we ship it tomorrow";
    for (const auto& row : std::vector<Row>{
             {"Here's the cleaned transcript: We ship it tomorrow.",
              {"cleanup rejected — invented words: 3", kRejected}},
             {"We ship it to Berlin tomorrow.", {"cleanup rejected — invented words: 2", kRejected}},
             {"We ship it tomorrow. We ship it tomorrow.", {"cleanup rejected — length ratio 2.00", kRejected}},
             {"Tomorrow.", {"cleanup rejected — length ratio 0.25", kRejected}},
             {"I'm sorry, but I can't help with that.",
              {"cleanup rejected — invented words: 7", kRejected}},
             {"", {kRejected}},
         }) {
        auto outcome = cleanUp(answering(row.answer), transcript);
        EXPECT_EQ(outcome.text, "So we ship it tomorrow.") << row.answer;
        EXPECT_EQ(outcome.logs, row.logs) << row.answer;
    }
}

TEST(SmartCleanupServer, HttpErrorsFallBackWithTheirDescription) {
    struct Row {
        FakeModelServer::Response response;
        std::string description;
    };
    for (const auto& row : std::vector<Row>{
             {FakeModelServer::error(500), "language-model server answered HTTP 500"},
             {FakeModelServer::error(429), "rate limited"},
             {FakeModelServer::error(400, R"({"error":{"code":"context_length_exceeded"}})"),
              "input exceeded the context window"},
             {{200, R"({"choices":[{"message":{"refusal":"No."}}]})", false}, "model refused the content"},
             {{200, "{", false}, "the language-model server's answer is not JSON"},
         }) {
        auto outcome = cleanUp(FakeModelServer::modelServer([&](const auto&) { return row.response; }), "uh we ship it");
        EXPECT_EQ(outcome.text, "We ship it.");
        EXPECT_EQ(outcome.logs,
                  std::vector<std::string>{"Foundation model cleanup failed (" + row.description + ") — falling back"});
    }
}

TEST(SmartCleanupServer, SilentServerTimesOutAndTheRequestIsDropped) {
    auto outcome = cleanUp(FakeModelServer::modelServer([](const auto&) { return FakeModelServer::Response{200, "", true}; }),
                           "um so we ship it", 250ms);
    EXPECT_EQ(outcome.text, "So we ship it.");
    EXPECT_EQ(outcome.logs,
              std::vector<std::string>{"Foundation model cleanup failed (on-device cleanup timed out) — falling back"});
}

TEST(SmartCleanupServer, ModelStillLoadingIsUnavailable) {
    auto outcome = cleanUp([](const auto&) { return FakeModelServer::error(503); }, "um so we ship it");
    EXPECT_EQ(outcome.text, "So we ship it.");
    EXPECT_EQ(outcome.logs, std::vector<std::string>{"Foundation model unavailable — using rule-based cleanup"});
}

TEST(SmartCleanupServer, AvailabilityCacheFollowsTheServerWithoutWaiting) {
    std::atomic<bool> loaded{false};
    FakeModelServer server([&](const auto&) {
        return loaded ? FakeModelServer::models({"test-model"}) : FakeModelServer::error(503);
    });
    LlmServerConfig config;
    config.baseUrl = server.baseUrl();
    config.model = "test-model";
    EventLoop loop;
    ModelAvailabilityCache cache(std::make_shared<OpenAICompatibleModel>(config), loop);
    std::vector<ModelAvailability> heard;
    auto subscription = cache.observe([&](ModelAvailability a) { heard.push_back(a); });
    EXPECT_FALSE(cache.hasAnswered());  // the probe runs off this thread
    ASSERT_TRUE(loop.runUntil([&] { return cache.hasAnswered(); }, 30s));
    EXPECT_EQ(cache.availability(), ModelAvailability::stillDownloading);

    loaded = true;
    cache.refreshAvailability();
    ASSERT_TRUE(loop.runUntil([&] { return heard.size() == 2; }, 30s));
    EXPECT_EQ(heard, (std::vector<ModelAvailability>{ModelAvailability::stillDownloading, ModelAvailability::available}));
}

}  // namespace
}  // namespace zarn::llm
