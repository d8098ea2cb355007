#include "platform/linux/llm/OpenAICompatibleModel.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/Log.h"

namespace zarn::llm {
namespace {

using json = nlohmann::json;
using Kind = LanguageModelError::Kind;

constexpr std::size_t maximumAnswerBytes = 8 * 1024 * 1024;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::exception_ptr modelError(Kind kind, std::string message = {}) {
    return makeError<LanguageModelError>(kind, std::move(message));
}

long milliseconds(Duration d) {
    return static_cast<long>(std::max<std::int64_t>(1, std::chrono::duration_cast<std::chrono::milliseconds>(d).count()));
}

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    std::size_t n = size * count;
    if (body->size() + n > maximumAnswerBytes) return 0;  // aborts the transfer
    body->append(data, n);
    return n;
}

struct Headers {
    curl_slist* list = nullptr;
    ~Headers() { curl_slist_free_all(list); }
    void add(const char* line) { list = curl_slist_append(list, line); }
};

struct HttpAnswer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

// The options every request shares.
void prepare(CURL* easy, const Endpoint& endpoint, const std::string& url, HttpAnswer& answer, Duration timeout,
             Headers& headers) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, milliseconds(timeout));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(timeout));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer.body);
    // A proxy from the environment must not see transcripts meant for this machine.
    if (endpoint.isLoopback) curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    headers.add("Accept: application/json");
    headers.add("Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);
}

std::string describeTransfer(const HttpAnswer& answer) {
    if (answer.code == CURLE_WRITE_ERROR) return "the language-model server's answer is too large";
    return std::string("language-model server unreachable: ") + curl_easy_strerror(answer.code);
}

}  // namespace

// What the requests share with the thread that runs them; outlives the model object.
struct OpenAICompatibleModel::Core {
    LlmServerConfig config;
    Endpoint endpoint;
    std::string configError;  // why requests are refused, empty when they may go

    std::mutex mutex;
    std::string listedModel;  // the first model the server listed, when none is configured
    bool closing = false;

    struct Call final : ModelCall {
        std::atomic<bool> cancelled{false};
        std::mutex mutex;
        CURLM* multi = nullptr;  // set while the transfer runs
        void cancel() override {
            cancelled = true;
            std::lock_guard lock(mutex);
            if (multi) curl_multi_wakeup(multi);
        }
    };
    std::vector<std::weak_ptr<Call>> calls;

    bool usable() const { return configError.empty(); }

    ModelAvailability probe() {
        if (config.baseUrl.empty()) return ModelAvailability::notEnabled;
        if (!usable()) return ModelAvailability::unavailable;
        HttpAnswer answer;
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
        if (!easy) return ModelAvailability::unavailable;
        Headers headers;
        std::string url = endpoint.url("/v1/models");
        prepare(easy.get(), endpoint, url, answer, config.probeTimeout, headers);
        answer.code = curl_easy_perform(easy.get());
        if (answer.code != CURLE_OK) return ModelAvailability::unavailable;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &answer.status);
        if (answer.status == 503) return ModelAvailability::stillDownloading;
        if (answer.status != 200) return ModelAvailability::unavailable;
        json listing = json::parse(answer.body, nullptr, false);
        if (!listing.is_object() || !listing.contains("data") || !listing["data"].is_array()) {
            return ModelAvailability::unavailable;
        }
        std::vector<std::string> ids;
        for (const auto& entry : listing["data"]) {
            if (entry.is_object() && entry.contains("id") && entry["id"].is_string()) ids.push_back(entry["id"]);
        }
        if (config.model.empty()) {
            if (ids.empty()) return ModelAvailability::unavailable;
            std::lock_guard lock(mutex);
            listedModel = ids.front();
            return ModelAvailability::available;
        }
        // Ollama lists "name:latest" for a model asked for as "name".
        bool listed = std::any_of(ids.begin(), ids.end(),
                                  [&](const std::string& id) { return id == config.model || id == config.model + ":latest"; });
        return listed ? ModelAvailability::available : ModelAvailability::unavailable;
    }

    std::string modelName() {
        if (!config.model.empty()) return config.model;
        std::lock_guard lock(mutex);
        return listedModel;
    }

    Result<std::string> generate(const ModelRequest& request, const std::shared_ptr<Call>& call) {
        if (!usable()) return modelError(Kind::other, configError);
        json body = {
            {"messages", json::array({{{"role", "system"}, {"content", request.instructions}},
                                      {{"role", "user"}, {"content", request.prompt}}})},
            {"temperature", request.temperature},
            {"max_tokens", request.maximumResponseTokens},
            {"stream", false},
        };
        if (auto name = modelName(); !name.empty()) body["model"] = name;
        // Invalid UTF-8 in a transcript must not stop the request.
        std::string payload = body.dump(-1, ' ', false, json::error_handler_t::replace);

        HttpAnswer answer;
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
        std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(), &curl_multi_cleanup);
        if (!easy || !multi) return modelError(Kind::other, "could not start a request to the language-model server");
        Headers headers;
        headers.add("Content-Type: application/json");
        std::string url = endpoint.url("/v1/chat/completions");
        prepare(easy.get(), endpoint, url, answer, config.requestTimeout, headers);
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, payload.c_str());
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));

        curl_multi_add_handle(multi.get(), easy.get());
        {
            std::lock_guard lock(call->mutex);
            call->multi = multi.get();
        }
        bool finished = false;
        while (!call->cancelled) {
            int running = 0;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
            if (running == 0) {
                finished = true;
                break;
            }
            curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        }
        {
            std::lock_guard lock(call->mutex);
            call->multi = nullptr;
        }
        answer.code = CURLE_ABORTED_BY_CALLBACK;
        if (finished) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
                if (message->msg == CURLMSG_DONE) answer.code = message->data.result;
            }
        }
        curl_multi_remove_handle(multi.get(), easy.get());
        if (!finished) return modelError(Kind::cancelled);
        if (answer.code != CURLE_OK) return modelError(Kind::other, describeTransfer(answer));
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &answer.status);
        return interpret(answer);
    }

    static Result<std::string> interpret(const HttpAnswer& answer) {
        json reply = json::parse(answer.body, nullptr, false);
        if (answer.status != 200) {
            if (answer.status == 429) return modelError(Kind::rateLimited);
            if (answer.status == 503) return modelError(Kind::assetsUnavailable);
            if (answer.status == 400 && reply.is_object() && reply.contains("error") && reply["error"].is_object()) {
                const auto& error = reply["error"];
                auto field = [&](const char* name) {
                    return error.contains(name) && error[name].is_string() ? error[name].get<std::string>() : "";
                };
                if (field("code") == "context_length_exceeded" || field("type") == "exceed_context_size_error") {
                    return modelError(Kind::exceededContextWindowSize);
                }
            }
            // The server's own message may quote the transcript, so only the status is kept.
            return modelError(Kind::other, "language-model server answered HTTP " + std::to_string(answer.status));
        }
        if (reply.is_discarded()) return modelError(Kind::other, "the language-model server's answer is not JSON");
        const json* choice = nullptr;
        if (reply.is_object() && reply.contains("choices") && reply["choices"].is_array() && !reply["choices"].empty()) {
            choice = &reply["choices"][0];
        }
        if (!choice || !choice->is_object()) {
            return modelError(Kind::other, "the language-model server's answer has no choices");
        }
        if (choice->contains("finish_reason") && (*choice)["finish_reason"] == "content_filter") {
            return modelError(Kind::guardrailViolation);
        }
        const json* message = choice->contains("message") ? &(*choice)["message"] : nullptr;
        if (message && message->is_object() && message->contains("refusal") && (*message)["refusal"].is_string() &&
            !(*message)["refusal"].get<std::string>().empty()) {
            return modelError(Kind::refusal);
        }
        if (!message || !message->is_object() || !message->contains("content") || !(*message)["content"].is_string()) {
            return modelError(Kind::other, "the language-model server's answer has no message content");
        }
        // A text cut off at the token limit would silently lose the end of the transcript.
        if (choice->contains("finish_reason") && (*choice)["finish_reason"] == "length") {
            return modelError(Kind::other, "the model's answer was cut off at the token limit");
        }
        return (*message)["content"].get<std::string>();
    }
};

OpenAICompatibleModel::OpenAICompatibleModel(LlmServerConfig config) : core_(std::make_shared<Core>()) {
    initCurlOnce();
    core_->config = std::move(config);
    if (core_->config.baseUrl.empty()) {
        core_->configError = "no language-model server configured (ZARN_LLM_URL)";
        return;
    }
    core_->endpoint = Endpoint::parse(core_->config.baseUrl);
    if (!core_->endpoint.ok()) {
        core_->configError = core_->endpoint.error;
        Log::speech().info("Language-model server not used: %{public}s", core_->configError);
    } else if (!core_->endpoint.isLoopback && !core_->config.allowRemote) {
        core_->configError = "the language-model server is not on this machine (set ZARN_LLM_ALLOW_REMOTE=1 to allow it)";
        Log::speech().info("Language-model server %{public}s refused: transcripts stay on this machine unless "
                           "ZARN_LLM_ALLOW_REMOTE=1",
                           core_->endpoint.origin);
    } else if (!core_->endpoint.isLoopback) {
        Log::speech().info("Language-model server %{public}s is remote (ZARN_LLM_ALLOW_REMOTE=1): transcripts "
                           "leave this machine",
                           core_->endpoint.origin);
    }
}

OpenAICompatibleModel::~OpenAICompatibleModel() {
    std::vector<std::shared_ptr<Core::Call>> live;
    {
        std::lock_guard lock(core_->mutex);
        core_->closing = true;
        for (auto& weak : core_->calls) {
            if (auto call = weak.lock()) live.push_back(std::move(call));
        }
    }
    // Every flag first: once the running call is woken, the thread moves on to the next at once.
    for (auto& call : live) call->cancelled = true;
    for (auto& call : live) call->cancel();
}

ModelAvailability OpenAICompatibleModel::availability() { return core_->probe(); }

void OpenAICompatibleModel::checkAvailability(Reply<ModelAvailability> reply) {
    worker_.post([core = core_, reply = std::move(reply)]() mutable { reply(core->probe()); });
}

std::shared_ptr<ModelCall> OpenAICompatibleModel::respond(ModelRequest request, Reply<Result<std::string>> reply) {
    auto call = std::make_shared<Core::Call>();
    {
        std::lock_guard lock(core_->mutex);
        std::erase_if(core_->calls, [](const auto& weak) { return weak.expired(); });
        core_->calls.push_back(call);
        if (core_->closing) call->cancelled = true;
    }
    worker_.post([core = core_, call, request = std::move(request), reply = std::move(reply)]() mutable {
        if (call->cancelled) {
            reply(modelError(Kind::cancelled));
            return;
        }
        reply(core->generate(request, call));
    });
    return call;
}

}  // namespace zarn::llm
