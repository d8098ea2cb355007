#include "strings/AppLanguage.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zarn {
namespace {

using Resolved = AppLanguage::Resolved;
using List = std::vector<std::string>;

TEST(AppLanguage, CasesRawValuesAndDisplayNames) {
    const auto all = AppLanguage::allCases();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], AppLanguage::system);
    EXPECT_EQ(all[1], AppLanguage::ru);
    EXPECT_EQ(all[2], AppLanguage::en);

    EXPECT_EQ(AppLanguage(AppLanguage::system).rawValue(), "system");
    EXPECT_EQ(AppLanguage(AppLanguage::ru).rawValue(), "ru");
    EXPECT_EQ(AppLanguage(AppLanguage::en).rawValue(), "en");
    EXPECT_EQ(AppLanguage(AppLanguage::system).displayName(), "Auto");
    EXPECT_EQ(AppLanguage(AppLanguage::ru).displayName(), "Русский");
    EXPECT_EQ(AppLanguage(AppLanguage::en).displayName(), "English");

    for (AppLanguage language : all) EXPECT_EQ(AppLanguage::fromRawValue(language.rawValue()), language);
    for (const char* unknown : {"", "auto", "Auto", "RU", "en-US", "system ", "de"})
        EXPECT_EQ(AppLanguage::fromRawValue(unknown), std::nullopt) << unknown;

    EXPECT_EQ(rawValue(Resolved::ru), "ru");
    EXPECT_EQ(rawValue(Resolved::en), "en");
    EXPECT_EQ(resolvedFromRawValue("ru"), Resolved::ru);
    EXPECT_EQ(resolvedFromRawValue("en"), Resolved::en);
    EXPECT_EQ(resolvedFromRawValue("system"), std::nullopt);
}

TEST(AppLanguage, ExplicitChoiceIgnoresPreferredLanguages) {
    EXPECT_EQ(AppLanguage(AppLanguage::ru).resolved(List{"en-US"}), Resolved::ru);
    EXPECT_EQ(AppLanguage(AppLanguage::ru).resolved(List{}), Resolved::ru);
    EXPECT_EQ(AppLanguage(AppLanguage::en).resolved(List{"ru-RU"}), Resolved::en);
}

TEST(AppLanguage, SystemTakesFirstDecidingPrimarySubtag) {
    const AppLanguage system = AppLanguage::system;
    EXPECT_EQ(system.resolved(List{"uk-UA", "ru-RU"}), Resolved::ru);
    EXPECT_EQ(system.resolved(List{"de-DE", "fr-FR"}), Resolved::en);
    EXPECT_EQ(system.resolved(List{"en-GB", "ru-RU"}), Resolved::en);
    EXPECT_EQ(system.resolved(List{"ru"}), Resolved::ru);
    EXPECT_EQ(system.resolved(List{}), Resolved::en);
    // Script and region are ignored; empty parts and empty entries are skipped.
    EXPECT_EQ(system.resolved(List{"ru-Cyrl-RU"}), Resolved::ru);
    EXPECT_EQ(system.resolved(List{"", "-", "--ru-RU"}), Resolved::ru);
    // Case-sensitive, whole subtag only.
    EXPECT_EQ(system.resolved(List{"RU-ru", "rus", "ru_RU"}), Resolved::en);
    EXPECT_EQ(system.resolved(List{"Ru", "ru-RU"}), Resolved::ru);
}

using ScopedEnvironment = test::ScopedEnv;

TEST(AppLanguage, SystemReadsProcessEnvironment) {
    ScopedEnvironment env;
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
