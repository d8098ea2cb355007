#include "app/SearchText.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <unordered_map>

#include "base/Unicode.h"

namespace zarn::search {

namespace {

uint32_t foldOptions() {
    const std::string_view language = icu::Locale::getDefault().getLanguage();
    return language == "tr" || language == "az" ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
}

}  // namespace

namespace {

// Every step of the fold works on single code points (folding and decomposition need no
// context, and reordering only moves marks we drop), so the fold of a text is the
// concatenation of its characters' folds, each worked out once.
std::string foldCodePoint(UChar32 c, uint32_t options) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString text(c);
    text.foldCase(options);
    icu::UnicodeString decomposed = U_SUCCESS(status) ? nfd->normalize(text, status) : text;
    if (U_FAILURE(status)) decomposed = text;
    icu::UnicodeString kept;
    for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
        const UChar32 part = decomposed.char32At(i);
        if (u_charType(part) == U_NON_SPACING_MARK || u_hasBinaryProperty(part, UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) continue;
        kept.append(part);
    }
    std::string out;
    kept.toUTF8String(out);
    return out;
}

}  // namespace

std::string fold(std::string_view utf8) {
    static const uint32_t options = foldOptions();
    const bool turkic = options == U_FOLD_CASE_EXCLUDE_SPECIAL_I;
    thread_local std::unordered_map<UChar32, std::string> folds;
    std::string out;
    out.reserve(utf8.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    for (int32_t i = 0; i < length;) {
        const uint8_t b = bytes[i];
        if (b < 0x80 && !(turkic && b == 'I')) {
            out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b));
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) c = 0xFFFD;
        auto it = folds.find(c);
        if (it == folds.end()) it = folds.emplace(c, foldCodePoint(c, options)).first;
        out += it->second;
    }
    return out;
}

std::string foldedQuery(std::string_view query) {
    const std::string trimmed = unicode::trimWhitespaceAndNewlines(query);
    return trimmed.empty() ? std::string() : fold(trimmed);
}

}  // namespace zarn::search
