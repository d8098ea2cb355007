#include "base/Unicode.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/usearch.h>
#include <unicode/utf8.h>

#include <memory>

namespace zarn::unicode {

bool isValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::vector<std::string> graphemeClusters(std::string_view utf8) {
    std::vector<std::string> out;
    if (utf8.empty()) return out;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return {std::string(utf8)};
    it->setText(text);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next()) {
        std::string piece;
        text.tempSubStringBetween(start, end).toUTF8String(piece);
        out.push_back(std::move(piece));
    }
    return out;
}

std::size_t graphemeCount(std::string_view utf8) {
    if (utf8.empty()) return 0;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return static_cast<std::size_t>(text.countChar32());
    it->setText(text);
    std::size_t count = 0;
    it->first();
    while (it->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

bool isWhitespaceOrNewline(char32_t c) {
    if (c >= 0x09 && c <= 0x0D) return true;
    if (c == 0x85) return true;
    int8_t type = u_charType(static_cast<UChar32>(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

bool isHorizontalWhitespace(char32_t c) {
    return c == 0x09 || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

namespace {

template <class Pred>
std::string trimBy(std::string_view utf8, Pred isSpace) {
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    int32_t length = static_cast<int32_t>(utf8.size());
    int32_t begin = 0;
    while (begin < length) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !isSpace(static_cast<char32_t>(c))) break;
        begin = next;
    }
    int32_t end = length;
    while (end > begin) {
        int32_t prev = end;
        UChar32 c;
        U8_PREV(s, 0, prev, c);
        if (c < 0 || !isSpace(static_cast<char32_t>(c))) break;
        end = prev;
    }
    return std::string(utf8.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view utf8) { return trimBy(utf8, isWhitespaceOrNewline); }
std::string trimHorizontalWhitespace(std::string_view utf8) { return trimBy(utf8, isHorizontalWhitespace); }

std::string nfc(std::string_view utf8) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(utf8);
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    icu::UnicodeString result = normalizer->normalize(text, status);
    if (U_FAILURE(status)) return std::string(utf8);
    std::string out;
    result.toUTF8String(out);
    return out;
}

bool localizedStandardContains(std::string_view haystack, std::string_view needle) {
    if (needle.empty() || haystack.empty()) return false;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(haystack.data(), static_cast<int32_t>(haystack.size())));
    icu::UnicodeString pattern = icu::UnicodeString::fromUTF8(icu::StringPiece(needle.data(), static_cast<int32_t>(needle.size())));
    UErrorCode status = U_ZERO_ERROR;
    // Primary strength ignores case and diacritics; the default locale's collation rules apply.
    // Under LANG=C ICU picks en_US_POSIX, whose collation tells every letter apart; the root
    // collation is what a plain locale means.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getName()).rfind("en_US_POSIX", 0) == 0) locale = icu::Locale::getRoot();
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status)) return false;
    collator->setStrength(icu::Collator::PRIMARY);
    UStringSearch* search = usearch_openFromCollator(pattern.getBuffer(), pattern.length(), text.getBuffer(), text.length(),
                                                     reinterpret_cast<UCollator*>(collator->toUCollator()), nullptr, &status);
    if (U_FAILURE(status)) return false;
    int32_t position = usearch_first(search, &status);
    usearch_close(search);
    return U_SUCCESS(status) && position != USEARCH_DONE;
}

std::u32string toUtf32(std::string_view utf8) {
    std::u32string out;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    int32_t length = static_cast<int32_t>(utf8.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        out.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return out;
}

std::string toUtf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        uint8_t buffer[4];
        int32_t n = 0;
        UBool error = false;
        U8_APPEND(buffer, n, 4, static_cast<UChar32>(c), error);
        if (error) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
        }
    }
    return out;
}

}  // namespace zarn::unicode
