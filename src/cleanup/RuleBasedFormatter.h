#pragma once

#include <string>
#include <string_view>

#include "contracts/TextFormatter.h"

namespace zarn {

// Deterministic cleanup of a finished transcript: drops hesitation sounds, turns a few
// spoken commands into layout characters, tidies spacing, capitalises sentences and
// closes the text with a full stop. Stateless; callable from any thread.
class RuleBasedFormatter final : public TextFormatter {
public:
    RuleBasedFormatter() = default;

    void format(std::string text, Reply<std::string> done) override;

    // The same cleanup, answered at once.
    static std::string formatted(std::string_view text);

    // The steps, in the order formatted() applies them after trimming.
    static std::string stripFillers(std::string_view text);
    static std::string applySpokenPunctuation(std::string_view text);
    static std::string collapseWhitespace(std::string_view text);
    // A letter whose upper-case form is more than one user-perceived character ("ß" → "SS")
    // is written unchanged, so a sentence start never grows or changes its letter count.
    static std::string capitalizeSentences(std::string_view text);
    static std::string ensureTerminalPunctuation(std::string_view text);
};

// Returns the input trimmed of white space and line breaks at both ends, nothing else.
class PassthroughFormatter final : public TextFormatter {
public:
    void format(std::string text, Reply<std::string> done) override;
};

}  // namespace zarn
