#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/EventLoop.h"
#include "cleanup/FoundationModelFormatter.h"
#include "support/LogCapture.h"
#include "support/FakeHttpServer.h"
#include "platform/linux/llm/OpenAICompatibleModel.h"

namespace zarn::llm {
namespace {

using namespace std::chrono_literals;
using test::FakeHttpServer;
using Kind = LanguageModelError::Kind;

LlmServerConfig configFor(const FakeHttpServer& server, std::string model = "test-model") {
    LlmServerConfig config;
    config.baseUrl = server.baseUrl();
    config.model = std::move(model);
    config.probeTimeout = 300ms;
    config.requestTimeout = 10s;
    return config;
}

ModelRequest request(std::string prompt = "Clean up this transcript:\n\nwe ship it") {
    return {"Be brief.", std::move(prompt), 0.1, 1200};
}

// Runs one model call to its end on a loop of its own.
Result<std::string> ask(SystemLanguageModel& model, ModelRequest req = request()) {
    EventLoop loop;
    std::optional<Result<std::string>> result;
    model.respond(std::move(req), Reply<Result<std::string>>(loop, [&](Result<std::string> r) { result.emplace(r); }));
    EXPECT_TRUE(loop.runUntil([&] { return result.has_value(); }, 20s));
    return result.value_or(Result<std::string>(std::string("<no answer>")));
}

std::optional<Kind> kindOf(const Result<std::string>& result) {
    if (result.ok()) return std::nullopt;
    try {
        std::rethrow_exception(result.error());
    } catch (const LanguageModelError& e) {
        return e.kind();
    } catch (...) {
        return std::nullopt;
    }
}

TEST(OpenAICompatibleModel, AvailabilityAndAnUnreachableServer) {
    EXPECT_EQ(OpenAICompatibleModel(LlmServerConfig{}).availability(), ModelAvailability::notEnabled);
    using A = ModelAvailability;
    struct Row {
        FakeHttpServer::Response listing;
        std::string model;
        ModelAvailability expected;
    };
    for (const auto& row : std::vector<Row>{
             {FakeHttpServer::models({"other", "test-model"}), "test-model", A::available},
             {FakeHttpServer::models({"other", "test-model"}), "missing", A::unavailable},
             {FakeHttpServer::models({"other", "test-model"}), "", A::available},
             {FakeHttpServer::models({"llama3.2:latest"}), "llama3.2", A::available},  // Ollama's spelling
             {FakeHttpServer::error(503, R"({"error":{"code":503,"message":"Loading model"}})"), "test-model",
              A::stillDownloading},
             {FakeHttpServer::error(500), "test-model", A::unavailable},
             {{200, "<html>"}, "test-model", A::unavailable},
             {FakeHttpServer::models({}), "", A::unavailable},
         }) {
        FakeHttpServer server([&](const auto&) { return row.listing; });
        EXPECT_EQ(OpenAICompatibleModel(configFor(server, row.model)).availability(), row.expected) << row.listing.body;
    }

    FakeHttpServer silent([](const auto&) { return FakeHttpServer::silent(); });
    EXPECT_EQ(OpenAICompatibleModel(configFor(silent)).availability(), ModelAvailability::unavailable);
    EXPECT_TRUE(silent.waitForAbandoned(1));

    // Nothing listens on a port once its server is gone.
    LlmServerConfig closed;
    {
        FakeHttpServer gone([](const auto&) { return FakeHttpServer::models({"test-model"}); });
        closed = configFor(gone);
    }
    OpenAICompatibleModel unreachable(closed);
    EXPECT_EQ(unreachable.availability(), ModelAvailability::unavailable);
    auto result = ask(unreachable);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(kindOf(result), Kind::other);
    EXPECT_TRUE(describeError(result.error()).starts_with("language-model server unreachable: ")) << describeError(result.error());
}

TEST(OpenAICompatibleModel, SendsOneChatCompletionRequest) {
    FakeHttpServer server(FakeHttpServer::modelServer([](const auto&) { return FakeHttpServer::chat(" We ship it. "); }));
    OpenAICompatibleModel model(configFor(server));
    auto result = ask(model, request("Clean up this transcript:\n\nwe ship it \xff"));
    ASSERT_TRUE(result.ok()) << describeError(result.error());
    EXPECT_EQ(result.value(), " We ship it. ");  // trimming is the caller's business

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/v1/chat/completions");
    auto body = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(body["model"], "test-model");
    EXPECT_EQ(body["temperature"], 0.1);
    EXPECT_EQ(body["max_tokens"], 1200);
    EXPECT_EQ(body["stream"], false);
    ASSERT_EQ(body["messages"].size(), 2u);
    EXPECT_EQ(body["messages"][0]["role"], "system");
    EXPECT_EQ(body["messages"][0]["content"], "Be brief.");
    EXPECT_EQ(body["messages"][1]["role"], "user");
    // Invalid UTF-8 in a transcript is replaced, not a reason to fail.
    EXPECT_EQ(body["messages"][1]["content"], "Clean up this transcript:\n\nwe ship it \xEF\xBF\xBD");
}

TEST(OpenAICompatibleModel, UsesTheListedModelWhenNoneIsConfigured) {
    FakeHttpServer server([](const FakeHttpServer::Request& r) {
        if (r.method == "GET") return FakeHttpServer::models({"first", "second"});
        return FakeHttpServer::chat("ok");
    });
    OpenAICompatibleModel model(configFor(server, ""));
    ASSERT_EQ(model.availability(), ModelAvailability::available);
    ASSERT_TRUE(ask(model).ok());
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(requests[1].body)["model"], "first");
}

TEST(OpenAICompatibleModel, ServerFailuresBecomeModelErrors) {
    struct Row {
        FakeHttpServer::Response response;
        Kind kind;
        std::string description;
    };
    const std::vector<Row> rows = {
        {FakeHttpServer::error(500, R"({"error":{"message":"we ship it leaked"}})"), Kind::other,
         "language-model server answered HTTP 500"},
        {FakeHttpServer::error(404, ""), Kind::other, "language-model server answered HTTP 404"},
        {FakeHttpServer::error(429), Kind::rateLimited, ""},
        {FakeHttpServer::error(503), Kind::assetsUnavailable, ""},
        {FakeHttpServer::error(400, R"({"error":{"code":"context_length_exceeded","message":"too long"}})"),
         Kind::exceededContextWindowSize, ""},
        {FakeHttpServer::error(400, R"({"error":{"type":"exceed_context_size_error"}})"),
         Kind::exceededContextWindowSize, ""},
        {FakeHttpServer::error(400, R"({"error":{"message":"bad"}})"), Kind::other,
         "language-model server answered HTTP 400"},
        {{200, "not json"}, Kind::other, "the language-model server's answer is not JSON"},
        {{200, R"({"choices":[]})"}, Kind::other, "the language-model server's answer has no choices"},
        {{200, R"({"choices":[{"message":{"content":null}}]})"}, Kind::other,
         "the language-model server's answer has no message content"},
        {{200, R"({"choices":[{"message":{"content":null,"refusal":"I will not."}}]})"}, Kind::refusal, ""},
        {FakeHttpServer::chat("", "content_filter"), Kind::guardrailViolation, ""},
        {FakeHttpServer::chat("We ship", "length"), Kind::other, "the model's answer was cut off at the token limit"},
    };
    for (const auto& row : rows) {
        FakeHttpServer server(FakeHttpServer::modelServer([&](const auto&) { return row.response; }));
        OpenAICompatibleModel model(configFor(server));
        auto result = ask(model);
        ASSERT_FALSE(result.ok()) << row.response.body;
        EXPECT_EQ(kindOf(result), row.kind) << row.response.body;
        if (!row.description.empty()) {
            EXPECT_EQ(describeError(result.error()), row.description);
        }
    }
}

TEST(OpenAICompatibleModel, OversizedAnswerIsRefused) {
    const std::string huge(9 * 1024 * 1024, 'a');
    FakeHttpServer server(FakeHttpServer::modelServer([&](const auto&) { return FakeHttpServer::chat(huge); }));
    OpenAICompatibleModel model(configFor(server));
    auto result = ask(model);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(describeError(result.error()), "the language-model server's answer is too large");
}

TEST(OpenAICompatibleModel, CancelEndsAHangingRequestAtOnce) {
    FakeHttpServer server(FakeHttpServer::modelServer([](const auto&) { return FakeHttpServer::silent(); }));
    OpenAICompatibleModel model(configFor(server));
    EventLoop loop;
    std::optional<Result<std::string>> result;
    auto call = model.respond(request(), Reply<Result<std::string>>(loop, [&](Result<std::string> r) { result.emplace(r); }));
    // Wait until the server holds the request, then cancel.
    ASSERT_TRUE(server.waitForRequests(1));
    call->cancel();
    ASSERT_TRUE(loop.runUntil([&] { return result.has_value(); }, 10s));
    EXPECT_EQ(kindOf(*result), Kind::cancelled);
    EXPECT_TRUE(server.waitForAbandoned(1));
    call->cancel();  // harmless after the end
}

TEST(OpenAICompatibleModel, DestroyingTheModelCancelsWhatIsPending) {
    FakeHttpServer server(FakeHttpServer::modelServer([](const auto&) { return FakeHttpServer::silent(); }));
    EventLoop loop;
    int cancelled = 0;
    {
        OpenAICompatibleModel model(configFor(server));
        for (int i = 0; i < 2; ++i) {
            model.respond(request(), Reply<Result<std::string>>(loop, [&](Result<std::string> r) {
                              cancelled += kindOf(r) == Kind::cancelled ? 1 : 0;
                          }));
        }
        ASSERT_TRUE(server.waitForRequests(1));
    }
    ASSERT_TRUE(loop.runUntil([&] { return cancelled == 2; }, 10s));
    EXPECT_EQ(server.requests().size(), 1u);  // the second never went out
}

TEST(OpenAICompatibleModel, RemoteServersNeedAnExplicitOptIn) {
    test::LogCapture logs;
    LlmServerConfig remote;
    remote.baseUrl = "http://user:pw@192.0.2.1:8080/base";  // documentation address: never contacted
    {
        OpenAICompatibleModel model(remote);
        EXPECT_EQ(model.availability(), ModelAvailability::unavailable);
        auto result = ask(model);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(describeError(result.error()),
                  "the language-model server is not on this machine (set ZARN_LLM_ALLOW_REMOTE=1 to allow it)");
    }
    remote.allowRemote = true;
    OpenAICompatibleModel allowed(remote);
    EXPECT_EQ(logs.messages(),
              (std::vector<std::string>{
                  "Language-model server http://192.0.2.1:8080 refused: transcripts stay on this machine unless "
                  "ZARN_LLM_ALLOW_REMOTE=1",
                  "Language-model server http://192.0.2.1:8080 is remote (ZARN_LLM_ALLOW_REMOTE=1): transcripts "
                  "leave this machine",
              }));

    LlmServerConfig bad;
    bad.baseUrl = "ftp://127.0.0.1/";
    OpenAICompatibleModel invalid(bad);
    EXPECT_EQ(invalid.availability(), ModelAvailability::unavailable);
    EXPECT_EQ(logs.messages().back(),
              "Language-model server not used: the language-model server URL must start with http:// or https://");
}

// The smart cleanup through this backend: the formatter's checks and fallbacks are its own tests'.
TEST(OpenAICompatibleModel, SmartCleanupUsesTheServersAnswer) {
    FakeHttpServer server(FakeHttpServer::modelServer([](const auto&) { return FakeHttpServer::chat("\nWe ship it tomorrow.\n"); }));
    auto config = configFor(server);
    config.probeTimeout = 2s;
    EventLoop loop;
    std::optional<std::string> result;
    FoundationModelFormatter formatter(std::make_shared<OpenAICompatibleModel>(config), loop,
                                       FoundationModelFormatter::defaultTimeout);
    formatter.format("um so we ship it tomorrow", Reply<std::string>(loop, [&](std::string s) { result = s; }));
    ASSERT_TRUE(loop.runUntil([&] { return result.has_value(); }, 30s));
    EXPECT_EQ(*result, "We ship it tomorrow.");
}

}  // namespace
}  // namespace zarn::llm
