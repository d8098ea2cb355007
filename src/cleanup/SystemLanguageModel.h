#pragma once

#include <memory>
#include <string>

#include "base/Error.h"
#include "base/Reply.h"

namespace zarn {

// What the language model reports about itself: ready, or the reason it is not.
enum class ModelAvailability { available, deviceNotEligible, notEnabled, stillDownloading, unavailable };

std::string_view toString(ModelAvailability availability);

// One generation request: a fresh session with `instructions`, asked `prompt` once.
struct ModelRequest {
    std::string instructions;
    std::string prompt;
    double temperature = 0;
    int maximumResponseTokens = 0;
};

// A failure of a model call, by kind, so callers can describe it.
class LanguageModelError : public LocalizedError {
public:
    enum class Kind {
        exceededContextWindowSize,
        assetsUnavailable,
        guardrailViolation,
        unsupportedGuide,
        unsupportedLanguageOrLocale,
        decodingFailure,
        rateLimited,
        concurrentRequests,
        refusal,
        cancelled,
        other,
    };

    explicit LanguageModelError(Kind kind, std::string message = {}) : kind_(kind), message_(std::move(message)) {
        fixWhat();
    }
    Kind kind() const { return kind_; }
    // The message given when made, or a plain text for the kind.
    std::string errorDescription() const override;

private:
    Kind kind_;
    std::string message_;
};

// A model call under way. cancel() asks it to stop soon; the call's reply still arrives,
// exactly once (with LanguageModelError::Kind::cancelled unless it had already finished).
class ModelCall {
public:
    virtual ~ModelCall() = default;
    virtual void cancel() = 0;
};

// A language model on this machine that can clean up text.
class SystemLanguageModel {
public:
    virtual ~SystemLanguageModel() = default;

    // Waits for a short probe: never where someone waits on the answer (a menu reads
    // ModelAvailabilityCache instead). Callable from any thread.
    virtual ModelAvailability availability() = 0;
    // The same, without waiting: the answer comes through `reply`.
    virtual void checkAvailability(Reply<ModelAvailability> reply) = 0;
    // One generation in a new session. The reply carries the generated text untouched, or
    // a LanguageModelError; it comes exactly once, on the reply's executor.
    virtual std::shared_ptr<ModelCall> respond(ModelRequest request, Reply<Result<std::string>> reply) = 0;
};

}  // namespace zarn
