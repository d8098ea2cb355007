#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/Corrections.h"
#include "dictionary/DictionaryEntry.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

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

// The enabled corrections of a dictionary compiled into match rules. An immutable value:
// apply() and biasPhrases() may run on any thread, and copies share the compiled patterns.
class DictionaryCorrector {
public:
    static constexpr std::size_t biasLimit = 40;

    using Limits = CorrectionLimits;

    DictionaryCorrector() = default;
    explicit DictionaryCorrector(const std::vector<DictionaryEntry>& entries, Limits limits = {});

    // The text with every rule applied in order, and what each matching rule changed.
    CorrectionResult apply(std::string_view text) const;
    bool isEmpty() const { return rules_.empty(); }
    std::size_t ruleCount() const { return rules_.size(); }

    // Written texts of enabled entries, trimmed, first spelling of each (ignoring case), at most biasLimit.
    static std::vector<std::string> biasPhrases(const std::vector<DictionaryEntry>& entries);

    // The case-insensitive pattern source for a heard phrase, or empty when it has no words.
    static std::string patternSource(std::string_view hear);
    // Forgets the compiled patterns shared between correctors (for measurements).
    static void clearCompiledPatterns();
    // `text` as a replacement template that inserts it literally.
    static std::string escapedTemplate(std::string_view text);

private:
    struct Rule {
        std::shared_ptr<const icu::RegexPattern> regex;
        std::string replacement;  // escaped template, UTF-8
        std::string to;           // the entry's write
        std::string trigger;      // the entry's hear
    };
    std::vector<Rule> rules_;
    Limits limits_;
};

}  // namespace zarn
