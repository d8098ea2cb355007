#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::unicode {

bool isValidUtf8(std::string_view text);

// User-perceived characters (extended grapheme clusters): "👍🏽" and "é" as e + U+0301 count one.
std::size_t graphemeCount(std::string_view utf8);
std::vector<std::string> graphemeClusters(std::string_view utf8);

// Removes white space and line breaks (Unicode Z*, U+0009–U+000D, U+0085) from both ends.
std::string trimWhitespaceAndNewlines(std::string_view utf8);
// Removes horizontal white space only (Unicode Zs and tab) from both ends; line breaks stay.
std::string trimHorizontalWhitespace(std::string_view utf8);
bool isWhitespaceOrNewline(char32_t c);
bool isHorizontalWhitespace(char32_t c);

// Canonical composition (NFC).
std::string nfc(std::string_view utf8);

// Case- and diacritic-insensitive, locale-aware containment, as a search field expects:
// "Zoe" finds "ZOË". An empty needle is found nowhere.
bool localizedStandardContains(std::string_view haystack, std::string_view needle);

// Decodes UTF-8 into code points; invalid bytes become U+FFFD.
std::u32string toUtf32(std::string_view utf8);
std::string toUtf8(std::u32string_view text);

}  // namespace zarn::unicode
