#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Executor.h"
#include "cleanup/ModelAvailabilityCache.h"
#include "cleanup/RuleBasedFormatter.h"
#include "cleanup/SystemLanguageModel.h"
#include "contracts/TextFormatter.h"

namespace zarn {

// Smart cleanup: asks the local language model to clean a transcript, races the call
// against a timer, tests the answer for plausibility and falls back to the rule-based
// cleanup on any doubt. Never fails. The timer covers the whole of it, the model's
// availability check included. Holds no state between calls; a call in flight keeps what
// it needs alive, so the formatter may be dropped meanwhile.
class FoundationModelFormatter final : public TextFormatter {
public:
    static constexpr double temperature = 0.1;
    static constexpr int maximumResponseTokens = 1200;
    static constexpr Duration defaultTimeout = std::chrono::seconds(4);

    // `executor` runs the race (the model's answer, the timer); it must outlive every call.
    // `availability`, when given (on the same executor), hears what each call learns of the
    // model and is asked to refresh after a failure.
    FoundationModelFormatter(std::shared_ptr<SystemLanguageModel> model, Executor& executor,
                             Duration timeout = defaultTimeout,
                             std::shared_ptr<ModelAvailabilityCache> availability = nullptr);

    // Answers through `done` only after both the model call and the timer have ended.
    void format(std::string text, Reply<std::string> done) override;

    Duration timeout() const { return timeout_; }

    // True when the model last reported that it is available. Answers at once.
    static bool isAvailable(const ModelAvailabilityCache& availability);
    // Nothing when available, otherwise the reason in the current interface language.
    // Answers at once.
    static std::optional<std::string> unavailableReason(const ModelAvailabilityCache& availability);
    static std::optional<std::string> unavailableReason(ModelAvailability availability);

    // The system prompt, and the prompt for one transcript.
    static const std::string& instructions();
    static std::string prompt(std::string_view transcript);

    // The text the failure log line names for an error.
    static std::string describe(const std::exception_ptr& error);

    static std::vector<std::string> contentWords(std::string_view text);
    static std::size_t spokenWordCount(std::string_view text);
    // Logs why an answer is rejected where that is useful.
    static bool isPlausibleCleanup(std::string_view original, std::string_view cleaned);

private:
    // The fallback is the stateless RuleBasedFormatter, called directly.
    Duration timeout_;
    std::shared_ptr<SystemLanguageModel> model_;
    Executor& executor_;
    std::shared_ptr<ModelAvailabilityCache> availability_;
};

}  // namespace zarn
