#include "strings/CurrentStrings.h"

#include <memory>
#include <mutex>
#include <utility>

namespace zarn {

namespace {

struct Current {
    std::mutex mutex;
    // The copy handed out is made outside the lock from this snapshot, so readers hold the lock
    // only for a pointer copy.
    std::shared_ptr<const Strings> table = std::make_shared<const Strings>(Strings::english());
};

Current& current() {
    static Current instance;
    return instance;
}

}  // namespace

Strings CurrentStrings::value() {
    auto& state = current();
    std::shared_ptr<const Strings> snapshot;
    {
        std::lock_guard lock(state.mutex);
        snapshot = state.table;
    }
    return *snapshot;
}

void CurrentStrings::set(Strings table) {
    auto replacement = std::make_shared<const Strings>(std::move(table));
    auto& state = current();
    std::shared_ptr<const Strings> previous;
    {
        std::lock_guard lock(state.mutex);
        previous = std::exchange(state.table, std::move(replacement));
    }
    // The old table is freed here, outside the lock (or by the last reader still copying it).
}

}  // namespace zarn
