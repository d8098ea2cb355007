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

}  // namespace zarn
