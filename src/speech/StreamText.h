#pragma once

#include <string>

#include "base/Unicode.h"

namespace zarn {

// What a stream has transcribed so far.
struct StreamText {
    std::string committed;  // text the model will not revise any more
    std::string tentative;  // the current guess for the audio after the committed part

    // The two joined with no separator, white space and line breaks trimmed from both ends.
    std::string combined() const { return unicode::trimWhitespaceAndNewlines(committed + tentative); }
    bool operator==(const StreamText&) const = default;
};

}  // namespace zarn
