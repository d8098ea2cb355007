#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zarn::textscan {

// Character classes of one user-perceived character, judged by its first code point.
bool isLetter(std::string_view character);  // Unicode Alphabetic
bool isNumber(std::string_view character);  // any Unicode numeric type

// Lower-cases with the language-neutral full mapping.
std::string lowercased(std::string_view text);

// Maximal runs of letters and digits; everything else separates.
std::vector<std::string> letterDigitRuns(std::string_view text);

}  // namespace zarn::textscan
