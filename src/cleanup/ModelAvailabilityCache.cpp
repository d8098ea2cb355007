#include "cleanup/ModelAvailabilityCache.h"

namespace zarn {

ModelAvailabilityCache::ModelAvailabilityCache(std::shared_ptr<SystemLanguageModel> model, Executor& executor)
    : model_(std::move(model)), executor_(executor) {
    refreshAvailability();
}

void ModelAvailabilityCache::refreshAvailability() {
    if (!model_) {
        record(ModelAvailability::unavailable);
        return;
    }
    if (asking_) {
        askAgain_ = true;
        return;
    }
    asking_ = true;
    model_->checkAvailability(Reply<ModelAvailability>(executor_, lifetime_.guard([this](ModelAvailability a) {
        asking_ = false;
        record(a);
        if (askAgain_) {
            askAgain_ = false;
            refreshAvailability();
        }
    })));
}

void ModelAvailabilityCache::record(ModelAvailability availability) {
    answered_ = true;
    availability_.set(availability);
}

}  // namespace zarn
