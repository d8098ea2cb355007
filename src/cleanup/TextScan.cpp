#include "cleanup/TextScan.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include "base/Unicode.h"

namespace zarn::textscan {
namespace {

UChar32 firstCodePoint(std::string_view character) {
    if (character.empty()) return -1;
    const auto* s = reinterpret_cast<const uint8_t*>(character.data());
    int32_t i = 0;
    UChar32 c = -1;
    U8_NEXT(s, i, static_cast<int32_t>(character.size()), c);
    return c;
}

}  // namespace

bool isLetter(std::string_view character) {
    UChar32 c = firstCodePoint(character);
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_ALPHABETIC);
}

bool isNumber(std::string_view character) {
    UChar32 c = firstCodePoint(character);
    return c >= 0 && u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::string lowercased(std::string_view text) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    s.toLower(icu::Locale::getRoot());
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::vector<std::string> letterDigitRuns(std::string_view text) {
    std::vector<std::string> runs;
    std::string current;
    for (auto& character : unicode::graphemeClusters(text)) {
        if (isLetter(character) || isNumber(character)) {
            current += character;
        } else if (!current.empty()) {
            runs.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) runs.push_back(std::move(current));
    return runs;
}

}  // namespace zarn::textscan
