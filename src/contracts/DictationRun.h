#pragma once

// The record of one dictation and where it goes.

#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "contracts/Corrections.h"

namespace zarn {

// What the controller records for every dictation that produced text.
struct DictationRun {
    std::string id;  // upper-case UUID
    SystemTime date;
    std::string engine;
    double audioSeconds = 0;
    double processSeconds = 0;
    std::string text;
    std::optional<std::vector<AppliedCorrection>> corrections;
    bool operator==(const DictationRun&) const = default;
};

class RunRecorder {
public:
    virtual ~RunRecorder() = default;
    virtual void record(const DictationRun& run) = 0;
};

}  // namespace zarn
