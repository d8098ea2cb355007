#include "dictionary/DictionaryCorrector.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <numeric>
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

// Full case folding of one code point: what ICU's case-insensitive matching compares the
// words of a pattern and the text by.
void appendFolded(std::u16string& out, UChar32 c) {
    if (c < 0x80) {
        out.push_back(static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
        return;
    }
    UChar source[2];
    int32_t length = 0;
    U16_APPEND_UNSAFE(source, length, c);
    UChar folded[8];
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = u_strFoldCase(folded, 8, source, length, U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) {
        out.append(source, source + length);
    } else {
        out.append(folded, folded + n);
    }
}

// The characters the rules' fences look for before a match.
bool isFenceCharacter(UChar32 c) {
    return c == 0x345 || (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

// Separators between the heard words: matches of the words hold none of them.
bool isSeparator(UChar32 c) { return c == '-' || u_isUWhiteSpace(c); }

// A literal every match of a rule holds once the text is folded and its separators dropped:
// the folded heard words, joined, at most keyLimit code units. It stops before the first
// character whose full folding differs from its simple one (ß to "ss", U+0130 to i and a
// dot, Greek with a subscript iota): matching may pair those with text in ways a plain
// substring test does not see. An empty key makes the rule run on every text.
constexpr std::size_t keyLimit = 16;

std::u16string ruleKey(const std::vector<std::u32string>& words) {
    std::u16string key;
    for (const auto& word : words) {
        for (char32_t c : word) {
            std::u16string full;
            appendFolded(full, static_cast<UChar32>(c));
            std::u16string simple;
            UChar32 s = u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT);
            if (U_IS_BMP(s)) {
                simple.push_back(static_cast<char16_t>(s));
            } else {
                simple.push_back(static_cast<char16_t>(U16_LEAD(s)));
                simple.push_back(static_cast<char16_t>(U16_TRAIL(s)));
            }
            if (full != simple) return key;
            key += full;
            if (key.size() >= keyLimit) return key.substr(0, keyLimit);
        }
    }
    return key;
}

// User-perceived characters, with one break iterator for a whole dictionary: making one
// per phrase costs more than the rest of a rule.
class GraphemeCounter {
public:
    std::size_t count(std::string_view utf8) {
        if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return c > 0 && c != '\r'; })) return utf8.size();
        if (!iterator_) {
            UErrorCode status = U_ZERO_ERROR;
            iterator_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            if (U_FAILURE(status)) iterator_.reset();
        }
        if (!iterator_) return unicode::graphemeCount(utf8);
        // The iterator refers to the text it was given, so the text lives as long as it does.
        text_ = toIcu(utf8);
        iterator_->setText(text_);
        std::size_t n = 0;
        iterator_->first();
        while (iterator_->next() != icu::BreakIterator::DONE) ++n;
        return n;
    }

private:
    icu::UnicodeString text_;
    std::unique_ptr<icu::BreakIterator> iterator_;
};

std::shared_ptr<const icu::RegexPattern> compile(const std::string& source) {
    if (source.empty()) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::shared_ptr<const icu::RegexPattern> pattern(icu::RegexPattern::compile(toIcu(source), 0, parseError, status));
    if (U_FAILURE(status)) return nullptr;
    return pattern;
}

}  // namespace

// The rules in the order they run, indexed by key. Immutable once built but for the
// compiled expressions, which are made on first use under the lock.
struct DictionaryCorrector::RuleSet {
    struct Rule {
        std::string hear;
        std::string to;
        std::u16string key;
    };
    std::vector<Rule> rules;
    std::unordered_map<std::u16string_view, std::vector<std::uint32_t>> byKey;  // views into rules' keys
    std::vector<std::size_t> keyLengths;                                     // ascending
    std::vector<std::uint32_t> unkeyed;
    // The first prefixLength code units of every key at least that long: most places in a
    // text begin no key, and one look-up here spares one per key length.
    static constexpr std::size_t prefixLength = 4;
    std::unordered_set<std::uint64_t> prefixes;

    static std::uint64_t prefixOf(std::u16string_view text) {
        std::uint64_t packed = 0;
        for (std::size_t i = 0; i < prefixLength; ++i) packed = packed << 16 | text[i];
        return packed;
    }

    mutable std::mutex mutex;
    mutable std::vector<std::shared_ptr<const icu::RegexPattern>> patterns;
    mutable std::vector<bool> tried;
    mutable std::size_t compiled = 0;

    std::shared_ptr<const icu::RegexPattern> pattern(std::uint32_t index) const {
        std::lock_guard lock(mutex);
        if (!tried[index]) {
            tried[index] = true;
            patterns[index] = compile(patternSource(rules[index].hear));
            if (patterns[index]) ++compiled;
        }
        return patterns[index];
    }

    // The rules from `from` on that may match `text`, in order.
    std::vector<std::uint32_t> candidates(const icu::UnicodeString& text, std::uint32_t from) const {
        // The text folded, without separators (which only ever stand between the heard
        // words). A match begins after no letter, digit or U+0345 (the fence), so keys are
        // looked up only where such a code point's folding begins.
        std::u16string folded;
        folded.reserve(static_cast<std::size_t>(text.length()));
        std::vector<std::size_t> starts;
        bool fenced = false;
        for (int32_t i = 0; i < text.length();) {
            UChar32 c = text.char32At(i);
            i += U16_LENGTH(c);
            if (isSeparator(c)) {
                fenced = false;
                continue;
            }
            if (!fenced) starts.push_back(folded.size());
            appendFolded(folded, c);
            fenced = isFenceCharacter(c);
        }
        std::vector<std::uint32_t> out;
        for (auto index : unkeyed) {
            if (index >= from) out.push_back(index);
        }
        const std::u16string_view view(folded);
        for (auto start : starts) {
            const bool prefixed = start + prefixLength <= view.size() && prefixes.count(prefixOf(view.substr(start))) > 0;
            for (auto length : keyLengths) {
                if (start + length > view.size() || (length >= prefixLength && !prefixed)) break;
                auto it = byKey.find(view.substr(start, length));
                if (it == byKey.end()) continue;
                for (auto index : it->second) {
                    if (index >= from) out.push_back(index);
                }
            }
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }
};

std::string DictionaryCorrector::escapedTemplate(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '$') out += '\\';
        out += c;
    }
    return out;
}

DictionaryCorrector::DictionaryCorrector(const std::vector<DictionaryEntry>& entries, Limits limits,
                                         const DictionaryCorrector* previous)
    : limits_(limits) {
    struct Candidate {
        const DictionaryEntry* entry;
        std::size_t length;
        std::u16string key;
    };
    std::vector<Candidate> candidates;
    GraphemeCounter graphemes;
    for (const auto& entry : entries) {
        if (!entry.isEnabled || entry.kind != DictionaryEntry::Kind::correction) continue;
        auto words = heardWords(entry.hear);
        if (words.empty()) continue;
        candidates.push_back({&entry, graphemes.count(entry.hear), ruleKey(words)});
    }
    if (candidates.empty()) return;
    // Longest heard phrase first, so 'new york' is replaced before 'york'.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.length > b.length; });

    auto set = std::make_shared<RuleSet>();
    set->rules.reserve(candidates.size());
    for (auto& candidate : candidates) {
        set->rules.push_back({candidate.entry->hear, candidate.entry->write, std::move(candidate.key)});
    }
    std::vector<std::size_t> lengths;
    for (std::uint32_t i = 0; i < set->rules.size(); ++i) {
        const std::u16string& key = set->rules[i].key;
        if (key.empty()) {
            set->unkeyed.push_back(i);
            continue;
        }
        set->byKey[key].push_back(i);
        if (key.size() >= RuleSet::prefixLength) set->prefixes.insert(RuleSet::prefixOf(key));
        lengths.push_back(key.size());
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    set->keyLengths = std::move(lengths);

    set->patterns.resize(set->rules.size());
    set->tried.resize(set->rules.size());
    // A rule's expression depends on its heard phrase alone.
    if (previous && previous->rules_) {
        const RuleSet& old = *previous->rules_;
        std::unordered_map<std::string_view, std::shared_ptr<const icu::RegexPattern>> kept;
        {
            std::lock_guard lock(old.mutex);
            for (std::size_t i = 0; i < old.rules.size(); ++i) {
                if (old.patterns[i]) kept.emplace(old.rules[i].hear, old.patterns[i]);
            }
        }
        for (std::size_t i = 0; i < set->rules.size() && !kept.empty(); ++i) {
            auto it = kept.find(set->rules[i].hear);
            if (it == kept.end()) continue;
            set->patterns[i] = it->second;
            set->tried[i] = true;
            ++set->compiled;
        }
    }
    rules_ = std::move(set);
}

std::size_t DictionaryCorrector::ruleCount() const { return rules_ ? rules_->rules.size() : 0; }

std::size_t DictionaryCorrector::compiledCount() const {
    if (!rules_) return 0;
    std::lock_guard lock(rules_->mutex);
    return rules_->compiled;
}

CorrectionResult DictionaryCorrector::apply(std::string_view text) const { return run(text, true); }

CorrectionResult DictionaryCorrector::applyEveryRule(std::string_view text) const { return run(text, false); }

CorrectionResult DictionaryCorrector::run(std::string_view text, bool indexed) const {
    if (isEmpty() || text.empty()) return {std::string(text), {}};
    const RuleSet& set = *rules_;
    icu::UnicodeString current = toIcu(unicode::nfc(text));
    // Rules may feed each other ('a' -> 'aa', 'aa' -> 'aaaa', ...): past this length the
    // text is no longer a correction of what was said.
    const std::int64_t lengthLimit =
        static_cast<std::int64_t>(current.length()) * limits_.growthFactor + limits_.growthAllowance;
    auto rulesFrom = [&](std::uint32_t from) {
        if (indexed) return set.candidates(current, from);
        std::vector<std::uint32_t> all(set.rules.size() - from);
        std::iota(all.begin(), all.end(), from);
        return all;
    };
    std::vector<AppliedCorrection> applied;
    std::vector<std::uint32_t> order = rulesFrom(0);
    std::size_t next = 0;
    while (next < order.size()) {
        const std::uint32_t index = order[next++];
        auto pattern = set.pattern(index);
        if (!pattern) continue;
        const auto& rule = set.rules[index];
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(current, status));
        if (U_FAILURE(status) || !matcher) continue;
        matcher->setTimeLimit(limits_.matchTimeLimit, status);
        icu::UnicodeString replacement = toIcu(escapedTemplate(rule.to));
        icu::UnicodeString result;
        long count = 0;
        std::string from;
        bool tooLong = false;
        // One pass counts, remembers the first match and builds the replaced text.
        while (matcher->find(status) && U_SUCCESS(status)) {
            if (count == 0) {
                icu::UnicodeString first = matcher->group(status);
                from = U_SUCCESS(status) ? toUtf8(first) : rule.hear;
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
        // The new text may hold first words the old one did not.
        if (indexed) {
            order = rulesFrom(index + 1);
            next = 0;
        }
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
