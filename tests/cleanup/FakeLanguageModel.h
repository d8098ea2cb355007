#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "cleanup/SystemLanguageModel.h"

namespace zarn::test {

// A scripted model. Each respond() takes the next script step: answer (or fail) after a
// delay on `executor`, or wait until cancelled. After cancel() it winds down after
// `windDown` and answers with a cancellation error, unless it had answered already.
class FakeLanguageModel final : public SystemLanguageModel {
public:
    struct Step {
        std::optional<Result<std::string>> answer;  // nothing: never answers on its own
        Duration after{};
    };

    explicit FakeLanguageModel(Executor& executor) : executor_(executor) {}

    ModelAvailability availabilityValue = ModelAvailability::available;
    Duration availabilityDelay{};  // how long checkAvailability() takes to answer
    Duration windDown{};
    std::deque<Step> script;

    std::vector<ModelRequest> requests;
    int availabilityChecks = 0;
    int cancels = 0;
    int answered = 0;

    ModelAvailability availability() override {
        ++availabilityChecks;
        return availabilityValue;
    }
    void checkAvailability(Reply<ModelAvailability> reply) override {
        executor_.postAfter(availabilityDelay, [this, reply = std::move(reply)]() mutable { reply(availability()); });
    }

    std::shared_ptr<ModelCall> respond(ModelRequest request, Reply<Result<std::string>> reply) override {
        requests.push_back(std::move(request));
        Step step = script.empty() ? Step{} : script.front();
        if (!script.empty()) script.pop_front();
        auto call = std::make_shared<Call>(this, std::move(reply));
        if (step.answer) {
            executor_.postAfter(step.after, [call, answer = *step.answer] { call->answer(answer); });
        }
        return call;
    }

private:
    struct Call final : ModelCall, std::enable_shared_from_this<Call> {
        Call(FakeLanguageModel* owner, Reply<Result<std::string>> reply) : owner(owner), reply(std::move(reply)) {}
        void cancel() override {
            ++owner->cancels;
            if (done || cancelling) return;
            cancelling = true;
            auto self = shared_from_this();
            owner->executor_.postAfter(owner->windDown, [self] {
                self->answer(makeError<LanguageModelError>(LanguageModelError::Kind::cancelled));
            });
        }
        void answer(Result<std::string> result) {
            if (done) return;
            done = true;
            ++owner->answered;
            reply(std::move(result));
        }
        FakeLanguageModel* owner;
        Reply<Result<std::string>> reply;
        bool done = false;
        bool cancelling = false;
    };

    Executor& executor_;
};

}  // namespace zarn::test
