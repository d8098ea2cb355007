#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/Corrections.h"
#include "dictionary/DictionaryEntry.h"

namespace zarn {

// Bounds on the work one apply() may do, whatever the dictionary and the text.
struct CorrectionLimits {
    // ICU match steps (roughly milliseconds) one rule may take over the whole text;
    // a rule that runs out is skipped.
    std::int32_t matchTimeLimit = 500;
    // Rules stop once the text is longer than this multiple of its original length
    // (in UTF-16 units) plus the allowance; the text as it was before the offending
    // rule is returned.
    std::int64_t growthFactor = 16;
    std::int64_t growthAllowance = 4096;
};

// The enabled corrections of a dictionary as match rules. A value whose copies share one rule
// set: apply() and biasPhrases() may run on any thread. A rule's expression is compiled the
// first time its heard phrase may occur in a text, under the rule set's lock.
class DictionaryCorrector {
public:
    static constexpr std::size_t biasLimit = 40;

    using Limits = CorrectionLimits;

    DictionaryCorrector() = default;
    // `previous` (the corrector this one replaces) lends the expressions it has compiled to
    // the rules that hear the same phrase.
    explicit DictionaryCorrector(const std::vector<DictionaryEntry>& entries, Limits limits = {},
                                 const DictionaryCorrector* previous = nullptr);

    // The text with every rule applied in order, and what each matching rule changed. Only
    // the rules whose heard words occur in the text, folded and without separators, run;
    // the result is the same as applyEveryRule()'s.
    CorrectionResult apply(std::string_view text) const;
    // The same, running every rule's expression on the text.
    CorrectionResult applyEveryRule(std::string_view text) const;
    bool isEmpty() const { return ruleCount() == 0; }
    std::size_t ruleCount() const;
    // How many rules have their expression compiled so far.
    std::size_t compiledCount() const;

    // Written texts of enabled entries, trimmed, first spelling of each (ignoring case), at most biasLimit.
    static std::vector<std::string> biasPhrases(const std::vector<DictionaryEntry>& entries);

    // The case-insensitive pattern source for a heard phrase, or empty when it has no words.
    static std::string patternSource(std::string_view hear);
    // `text` as a replacement template that inserts it literally.
    static std::string escapedTemplate(std::string_view text);

private:
    struct RuleSet;
    CorrectionResult run(std::string_view text, bool indexed) const;

    std::shared_ptr<const RuleSet> rules_;
    Limits limits_;
};

}  // namespace zarn
