#pragma once

// The cleanup step between the engine's text and the user's.

#include <string>

#include "base/Reply.h"

namespace zarn {

// Cleanup of a finished transcript. Never fails: implementations fall back on their own.
class TextFormatter {
public:
    virtual ~TextFormatter() = default;
    virtual void format(std::string text, Reply<std::string> done) = 0;
};

}  // namespace zarn
