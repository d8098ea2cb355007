#include "dictionary/DictionaryWarning.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "base/Unicode.h"

namespace zarn {

namespace {

// Ordinary English words: a correction hearing one of them alone rewrites it everywhere.
constexpr std::array<std::string_view, 155> common{
    "a", "about", "all", "also", "and", "any", "are", "as", "at", "back", "be", "because", "but", "by",
    "call", "can", "case", "check", "class", "close", "cloud", "code", "come", "could", "data", "day", "did",
    "do", "does", "down", "each", "even", "file", "find", "first", "for", "from", "get", "give", "go",
    "good", "great", "group", "had", "has", "have", "he", "her", "here", "him", "his", "how", "if", "in",
    "into", "is", "it", "its", "just", "key", "know", "like", "line", "list", "look", "make", "man", "many",
    "may", "me", "more", "most", "my", "need", "new", "no", "not", "now", "number", "of", "off", "on", "one",
    "only", "open", "or", "other", "our", "out", "over", "page", "part", "people", "point", "put", "read",
    "right", "run", "said", "same", "say", "see", "set", "she", "should", "show", "side", "so", "some",
    "state", "still", "such", "take", "team", "test", "than", "that", "the", "their", "them", "then",
    "there", "these", "they", "thing", "think", "this", "time", "to", "two", "type", "up", "us", "use",
    "user", "very", "want", "was", "way", "we", "well", "were", "what", "when", "where", "which", "who",
    "will", "with", "word", "work", "would", "year", "you", "your"
};

icu::UnicodeString toIcu(std::string_view utf8) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

const std::string_view leftQuote = "\xE2\x80\x9C";
const std::string_view rightQuote = "\xE2\x80\x9D";

std::string quoted(const std::string& text) { return std::string(leftQuote) + text + std::string(rightQuote); }

}  // namespace

std::vector<DictionaryWarning> DictionaryWarning::check(const DictionaryEntry& entry) {
    std::vector<DictionaryWarning> warnings;
    if (entry.kind == DictionaryEntry::Kind::term) return warnings;
    std::string heard = unicode::trimWhitespaceAndNewlines(entry.hear);
    if (heard.empty()) return warnings;

    std::string lowered;
    toIcu(heard).toLower(icu::Locale::getRoot()).toUTF8String(lowered);
    std::vector<std::string> words;
    std::string current;
    for (char c : lowered) {
        if (c == ' ' || c == '-') {
            if (!current.empty()) words.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) words.push_back(std::move(current));

    if (words.size() == 1) {
        const std::string& word = words.front();
        if (std::find(common.begin(), common.end(), word) != common.end()) {
            warnings.emplace_back(quoted(heard) + " is an ordinary word. This will rewrite every use of it, " +
                                  "not just the ones you mean. Consider a longer phrase.");
        } else if (unicode::graphemeCount(word) <= 3) {
            warnings.emplace_back(quoted(heard) + " is very short and will match often. Consider a longer phrase.");
        }
    }

    std::string written = unicode::trimWhitespaceAndNewlines(entry.write);
    if (toIcu(heard).caseCompare(toIcu(written), U_FOLD_CASE_DEFAULT) == 0) {
        warnings.emplace_back("This rewrites " + quoted(heard) + " to itself, so it will never change anything.");
    }
    return warnings;
}

}  // namespace zarn
