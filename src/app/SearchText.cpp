#include "app/SearchText.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "base/Unicode.h"

namespace zarn::search {

namespace {

uint32_t foldOptions() {
    const std::string_view language = icu::Locale::getDefault().getLanguage();
    return language == "tr" || language == "az" ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
}

}  // namespace

std::string fold(std::string_view utf8) {
    static const uint32_t options = foldOptions();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return std::string(utf8);
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    // Folding first turns "ǅ"-like letters and "ß" into sequences NFD then splits further.
    text.foldCase(options);
    icu::UnicodeString decomposed = nfd->normalize(text, status);
    if (U_FAILURE(status)) return std::string(utf8);
    icu::UnicodeString kept;
    for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) == U_NON_SPACING_MARK || u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) continue;
        kept.append(c);
    }
    std::string out;
    kept.toUTF8String(out);
    return out;
}

std::string foldedQuery(std::string_view query) {
    const std::string trimmed = unicode::trimWhitespaceAndNewlines(query);
    return trimmed.empty() ? std::string() : fold(trimmed);
}

}  // namespace zarn::search
