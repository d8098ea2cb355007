#include "strings/Strings.h"

namespace zarn {

const Strings& Strings::table(AppLanguage::Resolved language) {
    return language == AppLanguage::Resolved::ru ? russian() : english();
}

std::string russianPlural(std::int64_t n, std::string_view one, std::string_view few, std::string_view many) {
    // Unsigned negation: the absolute value of the most negative count does not fit in int64.
    const std::uint64_t a = n < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
    const auto lastTwo = a % 100;
    const auto last = a % 10;
    if (lastTwo >= 11 && lastTwo <= 14) return std::string(many);
    if (last == 1) return std::string(one);
    if (last >= 2 && last <= 4) return std::string(few);
    return std::string(many);
}

}  // namespace zarn
