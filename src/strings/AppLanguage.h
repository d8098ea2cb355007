#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "strings/Locale.h"

namespace zarn {

// The interface language setting. Holds one of the cases below and converts to them, so
// `AppLanguage lang = AppLanguage::ru;`, `lang == AppLanguage::ru` and `switch (lang)` work.
class AppLanguage {
public:
    enum Case : std::uint8_t { system, ru, en };
    // The table actually shown once `system` is decided.
    enum class Resolved : std::uint8_t { ru, en };

    constexpr AppLanguage(Case value) : value_(value) {}  // NOLINT: implicit by design
    constexpr operator Case() const { return value_; }     // NOLINT: implicit by design

    // The picker order.
    static constexpr std::array<AppLanguage, 3> allCases() { return {system, ru, en}; }

    // The stored form: "system", "ru", "en".
    std::string_view rawValue() const;
    // No value for an unknown text; callers pick their own fallback.
    static std::optional<AppLanguage> fromRawValue(std::string_view raw);

    // Not localized: the same in both tables.
    std::string_view displayName() const;

    // `ru` and `en` decide by themselves. `system` takes the first entry whose primary subtag
    // (the first non-empty part between "-") is exactly "ru" or "en"; English when none does.
    Resolved resolved(const std::vector<std::string>& preferredLanguages) const;
    // Same, against systemPreferredLanguages().
    Resolved resolved() const;

private:
    Case value_;
};

// "ru" or "en".
std::string_view rawValue(AppLanguage::Resolved language);
std::optional<AppLanguage::Resolved> resolvedFromRawValue(std::string_view raw);

}  // namespace zarn
