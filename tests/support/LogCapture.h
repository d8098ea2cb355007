#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/Log.h"

namespace zarn::test {

// Collects log records for the lifetime of the object; every test that reads the log uses this one.
class LogCapture {
public:
    LogCapture() {
        Log::setSinkForTesting([this](const Log::Record& r) {
            std::lock_guard lock(mutex_);
            records_.push_back(r);
        });
    }
    ~LogCapture() { Log::setSinkForTesting(nullptr); }

    std::vector<std::string> messages(const std::string& category = "speech") const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& r : records_) {
            if (r.category == category && r.level == Log::Level::info) out.push_back(r.message);
        }
        return out;
    }
    // Error lines of every category.
    std::vector<std::string> errors() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& r : records_) {
            if (r.level == Log::Level::error) out.push_back(r.message);
        }
        return out;
    }
    std::vector<Log::Record> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    bool contains(std::string_view text) const {
        std::lock_guard lock(mutex_);
        return std::any_of(records_.begin(), records_.end(),
                           [&](const Log::Record& r) { return r.message.find(text) != std::string::npos; });
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return records_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Log::Record> records_;
};

}  // namespace zarn::test
