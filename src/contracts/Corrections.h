#pragma once

// The user's dictionary applied to a transcript.

#include <string>
#include <vector>

namespace zarn {

struct AppliedCorrection {
    std::string from;
    std::string to;
    long count = 0;
    bool operator==(const AppliedCorrection&) const = default;
};

struct CorrectionResult {
    std::string text;
    std::vector<AppliedCorrection> applied;
};

class DictionaryCorrections {
public:
    virtual ~DictionaryCorrections() = default;
    virtual CorrectionResult applyCorrections(const std::string& text) = 0;
};

}  // namespace zarn
