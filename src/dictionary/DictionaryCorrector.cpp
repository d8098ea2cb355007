#include "dictionary/DictionaryCorrector.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "base/Log.h"
#include "base/Unicode.h"

namespace zarn {

namespace {

icu::UnicodeString toIcu(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Words of a heard phrase: split at every white-space character and hyphen-minus, empty
// pieces dropped. A white-space character left inside a word would also match the joins
// around it, and ICU's matcher backtracks exponentially over such a run.
std::vector<std::u32string> heardWords(std::string_view hear) {
    std::u32string phrase = unicode::toUtf32(unicode::trimWhitespaceAndNewlines(unicode::nfc(hear)));
    std::vector<std::u32string> words;
    std::u32string current;
    for (char32_t c : phrase) {
        if (c == U'-' || u_isUWhiteSpace(static_cast<UChar32>(c))) {
            if (!current.empty()) words.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) words.push_back(std::move(current));
    return words;
}

// Letters and digits stand for themselves; everything else is written as a code point
// escape so no character of the phrase can act as pattern syntax.
std::string escapedPatternWord(const std::u32string& word) {
    std::string out;
    for (char32_t c : word) {
        if (u_isalnum(static_cast<UChar32>(c))) {
            out += unicode::toUtf8(std::u32string_view(&c, 1));
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\x{%X}", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

}  // namespace

std::string DictionaryCorrector::patternSource(std::string_view hear) {
    auto words = heardWords(hear);
    if (words.empty()) return {};
    std::string joined;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) joined += "[\\s\\-]*";
        joined += escapedPatternWord(words[i]);
    }
    // Case-insensitive matching applies to the words only: closing the fence sets over case
    // at every compile costs milliseconds per rule, and adds nothing to them but U+0345
    // (which folds to a Greek letter), written out here so the fences stay the same.
    return "(?<![\\p{L}\\p{N}\\x{345}])(?i:" + joined + ")(?![\\p{L}\\p{N}\\x{345}])";
}

namespace {

// Compiled patterns by source. Patterns are immutable and safe to share between threads;
// the cache spares rebuilding unchanged rules for every dictation, and is emptied when it
// grows past a bound.
std::mutex cacheMutex;
std::unordered_map<std::string, std::shared_ptr<const icu::RegexPattern>> cache;
constexpr std::size_t cacheLimit = 4096;

std::shared_ptr<const icu::RegexPattern> compiledPattern(const std::string& source) {
    {
        std::lock_guard lock(cacheMutex);
        if (auto it = cache.find(source); it != cache.end()) return it->second;
    }
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::shared_ptr<const icu::RegexPattern> pattern(icu::RegexPattern::compile(toIcu(source), 0, parseError, status));
    if (U_FAILURE(status) || !pattern) return nullptr;
    std::lock_guard lock(cacheMutex);
    if (cache.size() >= cacheLimit) cache.clear();
    cache.emplace(source, pattern);
    return pattern;
}

}  // namespace

void DictionaryCorrector::clearCompiledPatterns() {
    std::lock_guard lock(cacheMutex);
    cache.clear();
}

std::string DictionaryCorrector::escapedTemplate(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '$') out += '\\';
        out += c;
    }
    return out;
}

DictionaryCorrector::DictionaryCorrector(const std::vector<DictionaryEntry>& entries, Limits limits)
    : limits_(limits) {
    struct Candidate {
        const DictionaryEntry* entry;
        std::size_t length;
    };
    std::vector<Candidate> candidates;
    for (const auto& entry : entries) {
        if (!entry.isEnabled || entry.kind != DictionaryEntry::Kind::correction) continue;
        if (unicode::trimWhitespaceAndNewlines(entry.hear).empty()) continue;
        candidates.push_back({&entry, unicode::graphemeCount(entry.hear)});
    }
    // Longest heard phrase first, so 'new york' is replaced before 'york'.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.length > b.length; });
    for (const auto& candidate : candidates) {
        std::string source = patternSource(candidate.entry->hear);
        if (source.empty()) continue;
        auto pattern = compiledPattern(source);
        if (!pattern) continue;
        rules_.push_back({std::move(pattern), escapedTemplate(candidate.entry->write), candidate.entry->write,
                          candidate.entry->hear});
    }
}

CorrectionResult DictionaryCorrector::apply(std::string_view text) const {
    if (rules_.empty() || text.empty()) return {std::string(text), {}};
    icu::UnicodeString current = toIcu(unicode::nfc(text));
    // Rules may feed each other ('a' -> 'aa', 'aa' -> 'aaaa', ...): past this length the
    // text is no longer a correction of what was said.
    const std::int64_t lengthLimit =
        static_cast<std::int64_t>(current.length()) * limits_.growthFactor + limits_.growthAllowance;
    std::vector<AppliedCorrection> applied;
    for (const auto& rule : rules_) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(rule.regex->matcher(current, status));
        if (U_FAILURE(status) || !matcher) continue;
        matcher->setTimeLimit(limits_.matchTimeLimit, status);
        icu::UnicodeString replacement = toIcu(rule.replacement);
        icu::UnicodeString result;
        long count = 0;
        std::string from;
        bool tooLong = false;
        // One pass counts, remembers the first match and builds the replaced text.
        while (matcher->find(status) && U_SUCCESS(status)) {
            if (count == 0) {
                icu::UnicodeString first = matcher->group(status);
                from = U_SUCCESS(status) ? toUtf8(first) : rule.trigger;
                status = U_ZERO_ERROR;
            }
            ++count;
            matcher->appendReplacement(result, replacement, status);
            if (U_FAILURE(status)) break;
            if (result.length() > lengthLimit) {
                tooLong = true;
                break;
            }
        }
        if (status == U_REGEX_TIME_OUT) {
            Log::speech().info("dictionary · a correction was skipped: matching took too long");
            continue;
        }
        if (!tooLong && U_SUCCESS(status) && count > 0) {
            matcher->appendTail(result);
            tooLong = result.length() > lengthLimit;
        }
        if (tooLong) {
            Log::speech().info("dictionary · corrections stopped: the text grew past %ld characters",
                               static_cast<long>(lengthLimit));
            break;
        }
        if (U_FAILURE(status) || count == 0) continue;
        matcher.reset();
        current = result;
        applied.push_back({std::move(from), rule.to, count});
    }
    return {toUtf8(current), std::move(applied)};
}

std::vector<std::string> DictionaryCorrector::biasPhrases(const std::vector<DictionaryEntry>& entries) {
    std::vector<std::string> phrases;
    std::unordered_set<std::string> seen;
    for (const auto& entry : entries) {
        if (phrases.size() >= biasLimit) break;
        if (!entry.isEnabled) continue;
        std::string phrase = unicode::trimWhitespaceAndNewlines(entry.write);
        if (phrase.empty()) continue;
        std::string lowered = toUtf8(toIcu(phrase).toLower(icu::Locale::getRoot()));
        if (!seen.insert(lowered).second) continue;
        phrases.push_back(std::move(phrase));
    }
    return phrases;
}

}  // namespace zarn
