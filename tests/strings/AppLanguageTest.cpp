#include "strings/AppLanguage.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zarn {
namespace {

using Resolved = AppLanguage::Resolved;
using List = std::vector<std::string>;

TEST(AppLanguage, StoredFormsRoundTripAndUnknownOnesAreRefused) {
    std::vector<std::string> stored, shown;
    for (AppLanguage language : AppLanguage::allCases()) {
        stored.emplace_back(language.rawValue());
        shown.emplace_back(language.displayName());
        EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
    }
    EXPECT_EQ(stored, (List{"system", "ru", "en"}));
    EXPECT_EQ(shown, (List{"Auto", "Русский", "English"}));
    for (const char* unknown : {"", "auto", "RU", "en-US", "system ", "de"})
        EXPECT_EQ(AppLanguage::fromRawValue(unknown), std::nullopt) << unknown;
    for (Resolved r : {Resolved::ru, Resolved::en}) EXPECT_EQ(resolvedFromRawValue(rawValue(r)), r);
    EXPECT_EQ(resolvedFromRawValue("system"), std::nullopt);
}

TEST(AppLanguage, ExplicitChoiceWinsAndSystemTakesTheFirstDecidingPrimarySubtag) {
    EXPECT_EQ(AppLanguage(AppLanguage::ru).resolved(List{"en-US"}), Resolved::ru);
    EXPECT_EQ(AppLanguage(AppLanguage::en).resolved(List{"ru-RU"}), Resolved::en);
    const AppLanguage system = AppLanguage::system;
    for (auto [preferred, expected] : std::vector<std::pair<List, Resolved>>{
             {{"uk-UA", "ru-RU"}, Resolved::ru},
             {{"de-DE", "fr-FR"}, Resolved::en},
             {{"en-GB", "ru-RU"}, Resolved::en},
             {{}, Resolved::en},
             {{"ru-Cyrl-RU"}, Resolved::ru},           // script and region ignored
             {{"", "-", "--ru-RU"}, Resolved::ru},     // empty parts and entries skipped
             {{"-ru"}, Resolved::ru},
             {{"RU-ru", "rus", "ru_RU"}, Resolved::en},  // case-sensitive, whole subtag only
             {{"Ru", "ru-RU"}, Resolved::ru},
         })
        EXPECT_EQ(system.resolved(preferred), expected) << (preferred.empty() ? "" : preferred[0]);
}

TEST(AppLanguage, SystemReadsProcessEnvironment) {
    test::ScopedEnv env;
    env.set("LANGUAGE", "ru:en");
    env.set("LC_ALL", nullptr);
    env.set("LC_MESSAGES", nullptr);
    env.set("LANG", "en_US.UTF-8");
    EXPECT_EQ(systemPreferredLanguages(), (List{"ru", "en", "en-US"}));
    EXPECT_EQ(AppLanguage(AppLanguage::system).resolved(), Resolved::ru);
    env.set("LANGUAGE", nullptr);
    EXPECT_EQ(AppLanguage(AppLanguage::system).resolved(), Resolved::en);
}

}  // namespace
}  // namespace zarn
