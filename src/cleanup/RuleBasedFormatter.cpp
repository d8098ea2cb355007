#include "cleanup/RuleBasedFormatter.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "base/Unicode.h"
#include "cleanup/TextScan.h"

namespace zarn {
namespace {

constexpr std::array<std::string_view, 6> fillers{"um", "uh", "erm", "uhm", "hmm", "mhm"};

constexpr std::array<std::pair<std::string_view, std::string_view>, 4> spokenPunctuation{{
    {"new paragraph", "\n\n"},
    {"new line", "\n"},
    {"open paren", " ("},
    {"close paren", ") "},
}};

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// The fixed patterns, compiled once: compiling the case-insensitive look-behind of the
// filler patterns costs milliseconds each. Compiled patterns are immutable and may be
// shared between threads; nullptr marks a pattern that does not compile.
const icu::RegexPattern* compiled(const std::string& pattern) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<icu::RegexPattern>> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(pattern);
    if (it == cache.end()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexPattern> made(icu::RegexPattern::compile(fromUtf8(pattern), 0, status));
        if (U_FAILURE(status)) made.reset();
        it = cache.emplace(pattern, std::move(made)).first;
    }
    return it->second.get();
}

// Every match of `pattern` replaced, left to right ("$1" names the first group).
// The patterns are fixed, so a failure is a programming error; the text is then kept.
std::string replaceAll(std::string_view text, const std::string& pattern, std::string_view replacement) {
    const icu::RegexPattern* regex = compiled(pattern);
    if (!regex) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString input = fromUtf8(text);
    std::unique_ptr<icu::RegexMatcher> matcher(regex->matcher(input, status));
    if (U_FAILURE(status)) return std::string(text);
    icu::UnicodeString result = matcher->replaceAll(fromUtf8(replacement), status);
    if (U_FAILURE(status)) return std::string(text);
    return toUtf8(result);
}

bool endsSentence(const std::string& character) {
    return character == "." || character == "!" || character == "?" || character == "\n" || character == "\r\n";
}

}  // namespace

void RuleBasedFormatter::format(std::string text, Reply<std::string> done) { done(formatted(text)); }

std::string RuleBasedFormatter::formatted(std::string_view text) {
    std::string result = unicode::trimWhitespaceAndNewlines(text);
    if (result.empty()) return result;
    result = stripFillers(result);
    result = applySpokenPunctuation(result);
    result = collapseWhitespace(result);
    result = capitalizeSentences(result);
    return ensureTerminalPunctuation(result);
}

std::string RuleBasedFormatter::stripFillers(std::string_view text) {
    std::string result(text);
    for (auto filler : fillers) {
        result = replaceAll(result, "(?i)(?<![\\w'])" + std::string(filler) + "\\b,?", "");
    }
    return result;
}

std::string RuleBasedFormatter::applySpokenPunctuation(std::string_view text) {
    std::string result(text);
    for (const auto& [phrase, replacement] : spokenPunctuation) {
        result = replaceAll(result, "(?i)\\b" + std::string(phrase) + "\\b", replacement);
    }
    return result;
}

std::string RuleBasedFormatter::collapseWhitespace(std::string_view text) {
    std::string result = replaceAll(text, "[ \\t]+", " ");
    result = replaceAll(result, " +([,.!?;:])", "$1");
    result = replaceAll(result, "\\n{3,}", "\n\n");
    return unicode::trimWhitespaceAndNewlines(result);
}

std::string RuleBasedFormatter::capitalizeSentences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool capitalizeNext = true;
    for (auto& character : unicode::graphemeClusters(text)) {
        if (capitalizeNext && textscan::isLetter(character)) {
            icu::UnicodeString upper = fromUtf8(character);
            upper.toUpper(icu::Locale::getRoot());
            std::string upperText = toUtf8(upper);
            out += unicode::graphemeCount(upperText) == 1 ? upperText : character;
            capitalizeNext = false;
            continue;
        }
        out += character;
        if (endsSentence(character)) capitalizeNext = true;
    }
    return out;
}

std::string RuleBasedFormatter::ensureTerminalPunctuation(std::string_view text) {
    auto characters = unicode::graphemeClusters(text);
    std::string result(text);
    if (characters.empty()) return result;
    const auto& last = characters.back();
    if (textscan::isLetter(last) || textscan::isNumber(last)) result += ".";
    return result;
}

void PassthroughFormatter::format(std::string text, Reply<std::string> done) {
    done(unicode::trimWhitespaceAndNewlines(text));
}

}  // namespace zarn
