#include "strings/Locale.h"

#include <gtest/gtest.h>

#include <map>

namespace zarn {
namespace {

using Env = std::map<std::string, std::string>;
using List = std::vector<std::string>;

LocaleEnvironment lookupIn(const Env& env) {
    return [&env](const char* name) -> const char* {
        const auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
}

TEST(Locale, NamesBecomeLanguageTags) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"en_US.UTF-8", "en-US"}, {"ru_RU.UTF-8@euro", "ru-RU"}, {"de_DE", "de-DE"}, {"de", "de"},
        {"pt_br@euro", "pt-BR"},  {"EN-us", "en-US"},            {"sr_RS@latin", "sr-RS"},
        {"C", std::nullopt},      {"C.UTF-8", std::nullopt},     {"POSIX", std::nullopt},
        {"", std::nullopt},       {".UTF-8", std::nullopt},      {"en__US", std::nullopt},
        {"en_", std::nullopt},    {"1x_US", std::nullopt},       {"e", std::nullopt},
    };
    for (const auto& [name, tag] : cases) EXPECT_EQ(languageTagFromLocaleName(name), tag) << name;
}

TEST(Locale, EnvironmentPrecedence) {
    const struct {
        Env env;
        std::optional<std::string> messages;
        List preferred;
    } cases[] = {
        {{}, std::nullopt, {}},
        {{{"LANG", "C.UTF-8"}}, std::nullopt, {}},
        {{{"LANG", "ru_RU.UTF-8"}}, "ru-RU", {"ru-RU"}},
        // LC_ALL overrides LC_MESSAGES, which overrides LANG; an empty one counts as unset.
        {{{"LC_ALL", "en_GB"}, {"LC_MESSAGES", "de_DE"}, {"LANG", "fr_FR"}}, "en-GB", {"en-GB"}},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "fr_FR"}}, "de-DE", {"de-DE"}},
        // C names no language and does not fall through to LANG.
        {{{"LC_ALL", "C"}, {"LANG", "ru_RU"}}, std::nullopt, {}},
        {{{"LANGUAGE", "uk:ru_RU::en"}, {"LANG", "de_DE.UTF-8"}}, "de-DE", {"uk", "ru-RU", "en", "de-DE"}},
        {{{"LANGUAGE", ""}, {"LANG", "POSIX"}}, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        const auto lookup = lookupIn(c.env);
        EXPECT_EQ(messagesLanguageTag(lookup), c.messages) << c.env.size();
        EXPECT_EQ(preferredLanguagesFromEnvironment(lookup), c.preferred) << c.env.size();
    }
}

}  // namespace
}  // namespace zarn
