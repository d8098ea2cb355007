#pragma once

#include <functional>
#include <memory>

#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "cleanup/SystemLanguageModel.h"

namespace zarn {

// What the language model last said about its availability, for whatever must not wait on
// it: the tray menu reads it while building itself. The model is asked again, off the
// calling thread, at construction, on refreshAvailability() (the menu calls it when it
// opens) and after a failed smart cleanup; observers hear every change. Used on `executor`.
class ModelAvailabilityCache {
public:
    ModelAvailabilityCache(std::shared_ptr<SystemLanguageModel> model, Executor& executor);
    ModelAvailabilityCache(const ModelAvailabilityCache&) = delete;
    ModelAvailabilityCache& operator=(const ModelAvailabilityCache&) = delete;

    // The last answer, at once; `unavailable` until the first one came.
    ModelAvailability availability() const { return *availability_; }
    bool hasAnswered() const { return answered_; }

    // Asks the model again; the answer arrives later. Calls while a question is out are
    // folded into one more question after it.
    void refreshAvailability();
    // An answer learned elsewhere (the smart cleanup asks the model itself).
    void record(ModelAvailability availability);

    [[nodiscard]] Subscription observe(std::function<void(ModelAvailability)> observer) {
        return availability_.subscribe([observer = std::move(observer)](const ModelAvailability& a) { observer(a); });
    }

private:
    std::shared_ptr<SystemLanguageModel> model_;
    Executor& executor_;
    Observable<ModelAvailability> availability_{ModelAvailability::unavailable};
    bool answered_ = false;
    bool asking_ = false;
    bool askAgain_ = false;
    Lifetime lifetime_;  // last: the model's late answers find nothing
};

}  // namespace zarn
