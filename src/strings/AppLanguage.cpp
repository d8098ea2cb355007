#include "strings/AppLanguage.h"

#include <cstdlib>

namespace zarn {

std::string_view AppLanguage::rawValue() const {
    switch (value_) {
    case system: return "system";
    case ru: return "ru";
    case en: return "en";
    }
    return "system";
}

std::optional<AppLanguage> AppLanguage::fromRawValue(std::string_view raw) {
    for (AppLanguage language : allCases()) {
        if (language.rawValue() == raw) return language;
    }
    return std::nullopt;
}

std::string_view AppLanguage::displayName() const {
    switch (value_) {
    case system: return "Auto";
    case ru: return "Русский";
    case en: return "English";
    }
    return "Auto";
}

namespace {

std::string_view primarySubtag(std::string_view tag) {
    while (!tag.empty()) {
        const auto dash = tag.find('-');
        const auto part = tag.substr(0, dash);
        if (!part.empty()) return part;
        if (dash == std::string_view::npos) break;
        tag.remove_prefix(dash + 1);
    }
    return {};
}

}  // namespace

AppLanguage::Resolved AppLanguage::resolved(const std::vector<std::string>& preferredLanguages) const {
    switch (value_) {
    case ru: return Resolved::ru;
    case en: return Resolved::en;
    case system: break;
    }
    for (const auto& tag : preferredLanguages) {
        const auto primary = primarySubtag(tag);
        if (primary == "ru") return Resolved::ru;
        if (primary == "en") return Resolved::en;
    }
    return Resolved::en;
}

AppLanguage::Resolved AppLanguage::resolved() const {
    return resolved(systemPreferredLanguages());
}

std::string_view rawValue(AppLanguage::Resolved language) {
    return language == AppLanguage::Resolved::ru ? "ru" : "en";
}

std::optional<AppLanguage::Resolved> resolvedFromRawValue(std::string_view raw) {
    if (raw == "ru") return AppLanguage::Resolved::ru;
    if (raw == "en") return AppLanguage::Resolved::en;
    return std::nullopt;
}

std::optional<std::string> languageTagFromLocaleName(std::string_view localeName) {
    // The codeset and modifier say nothing about the language.
    const auto name = localeName.substr(0, localeName.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
    std::string tag(name);
    for (char& c : tag) {
        if (c == '_') c = '-';
    }
    return tag;
}

std::vector<std::string> preferredLanguagesFromEnvironment(
    const std::function<const char*(const char*)>& lookup) {
    std::vector<std::string> languages;
    auto add = [&](std::string_view name) {
        if (auto tag = languageTagFromLocaleName(name)) languages.push_back(std::move(*tag));
    };
    if (const char* list = lookup("LANGUAGE")) {
        std::string_view rest(list);
        while (true) {
            const auto colon = rest.find(':');
            add(rest.substr(0, colon));
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    // The first non-empty one is the locale in effect for messages; the others are overridden.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = lookup(variable);
        if (value && *value) {
            add(value);
            break;
        }
    }
    return languages;
}

std::vector<std::string> systemPreferredLanguages() {
    return preferredLanguagesFromEnvironment([](const char* name) { return std::getenv(name); });
}

}  // namespace zarn
