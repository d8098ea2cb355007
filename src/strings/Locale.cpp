#include "strings/Locale.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zarn {

const LocaleEnvironment& processEnvironment() {
    static const LocaleEnvironment lookup = [](const char* name) -> const char* { return std::getenv(name); };
    return lookup;
}

std::optional<std::string> languageTagFromLocaleName(std::string_view localeName) {
    const std::string_view name = localeName.substr(0, localeName.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
    std::string tag;
    std::size_t start = 0;
    for (bool first = true;; first = false) {
        const auto end = name.find_first_of("_-", start);
        const std::string_view part = name.substr(start, end == std::string_view::npos ? end : end - start);
        const auto isAlpha = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
        const auto isAlnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
        if (part.empty() || part.size() > 8 || !std::all_of(part.begin(), part.end(), isAlnum)) return std::nullopt;
        if (first && (part.size() < 2 || !std::all_of(part.begin(), part.end(), isAlpha))) return std::nullopt;
        if (!first) tag += '-';
        for (char c : part) {
            const auto u = static_cast<unsigned char>(c);
            tag += static_cast<char>(first ? std::tolower(u) : part.size() == 2 ? std::toupper(u) : c);
        }
        if (end == std::string_view::npos) return tag;
        start = end + 1;
    }
}

std::optional<std::string> messagesLanguageTag(const LocaleEnvironment& lookup) {
    // The first non-empty one is in effect; the others are overridden, even by "C".
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = lookup(variable);
        if (value && *value) return languageTagFromLocaleName(value);
    }
    return std::nullopt;
}

std::vector<std::string> preferredLanguagesFromEnvironment(const LocaleEnvironment& lookup) {
    std::vector<std::string> languages;
    if (const char* list = lookup("LANGUAGE")) {
        std::string_view rest(list);
        for (;;) {
            const auto colon = rest.find(':');
            if (auto tag = languageTagFromLocaleName(rest.substr(0, colon))) languages.push_back(std::move(*tag));
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (auto tag = messagesLanguageTag(lookup)) languages.push_back(std::move(*tag));
    return languages;
}

std::vector<std::string> systemPreferredLanguages() { return preferredLanguagesFromEnvironment(processEnvironment()); }

}  // namespace zarn
