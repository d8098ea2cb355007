#pragma once

#include <memory>

#include "base/SerialExecutor.h"
#include "cleanup/SystemLanguageModel.h"
#include "platform/linux/llm/LlmEndpoint.h"

namespace zarn::llm {

// A language-model server on this machine (llama.cpp's server, Ollama, …) spoken to over
// the OpenAI-compatible HTTP interface. Transcripts are private: a server that is not on
// a loopback address is refused unless the configuration allows remote servers.
// Requests run one at a time on a thread of the model's own and can be cancelled at once.
class OpenAICompatibleModel final : public SystemLanguageModel {
public:
    explicit OpenAICompatibleModel(LlmServerConfig config);
    // Cancels what is under way; every pending reply still comes, with a cancellation.
    ~OpenAICompatibleModel() override;
    OpenAICompatibleModel(const OpenAICompatibleModel&) = delete;
    OpenAICompatibleModel& operator=(const OpenAICompatibleModel&) = delete;

    // No URL: notEnabled. The server lists the model: available. HTTP 503 (still loading):
    // stillDownloading. Anything else, or no answer within the probe time: unavailable.
    ModelAvailability availability() override;
    void checkAvailability(Reply<ModelAvailability> reply) override;
    std::shared_ptr<ModelCall> respond(ModelRequest request, Reply<Result<std::string>> reply) override;

    struct Core;

private:
    std::shared_ptr<Core> core_;
    SerialExecutor worker_{"zarn-llm"};  // last: joined before the rest goes
};

}  // namespace zarn::llm
