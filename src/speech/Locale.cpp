#include "speech/Locale.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zarn {

std::optional<std::string> bcp47FromPosixLocale(std::string_view posix) {
    const auto cut = posix.find_first_of(".@");
    std::string_view tag = posix.substr(0, cut);
    if (tag.empty() || tag == "C" || tag == "POSIX") return std::nullopt;
    std::string out;
    bool first = true;
    std::size_t start = 0;
    while (start <= tag.size()) {
        const auto end = tag.find_first_of("_-", start);
        const std::string_view part = tag.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty() || part.size() > 8) return std::nullopt;
        for (char c : part) {
            if (!std::isalnum(static_cast<unsigned char>(c))) return std::nullopt;
        }
        if (!first) out += '-';
        for (char c : part) {
            const auto u = static_cast<unsigned char>(c);
            // Language lower case, a two-letter region upper case.
            out += static_cast<char>(first ? std::tolower(u) : (part.size() == 2 ? std::toupper(u) : c));
        }
        if (first && !std::all_of(part.begin(), part.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); })) {
            return std::nullopt;
        }
        first = false;
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return out;
}

std::optional<std::string> currentLocaleBcp47() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return bcp47FromPosixLocale(value);
    }
    return std::nullopt;
}

}  // namespace zarn
