#include <gtest/gtest.h>

#include <cstdlib>

#include "speech/Locale.h"

namespace zarn {
namespace {

TEST(Locale, PosixLocalesBecomeLanguageTags) {
    EXPECT_EQ(bcp47FromPosixLocale("en_US.UTF-8"), "en-US");
    EXPECT_EQ(bcp47FromPosixLocale("ru_RU.utf8"), "ru-RU");
    EXPECT_EQ(bcp47FromPosixLocale("de"), "de");
    EXPECT_EQ(bcp47FromPosixLocale("pt_br@euro"), "pt-BR");
    EXPECT_EQ(bcp47FromPosixLocale("sr_RS@latin"), "sr-RS");
    EXPECT_EQ(bcp47FromPosixLocale("C"), std::nullopt);
    EXPECT_EQ(bcp47FromPosixLocale("POSIX"), std::nullopt);
    EXPECT_EQ(bcp47FromPosixLocale("C.UTF-8"), std::nullopt);
    EXPECT_EQ(bcp47FromPosixLocale(""), std::nullopt);
    EXPECT_EQ(bcp47FromPosixLocale("en__US"), std::nullopt);
    EXPECT_EQ(bcp47FromPosixLocale("1x_US"), std::nullopt);
}

TEST(Locale, CurrentLocaleFollowsTheEnvironmentPrecedence) {
    ::setenv("LANG", "fr_FR.UTF-8", 1);
    ::setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
    ::setenv("LC_ALL", "", 1);
    EXPECT_EQ(currentLocaleBcp47(), "de-DE");
    ::setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(currentLocaleBcp47(), "en-GB");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    EXPECT_EQ(currentLocaleBcp47(), "fr-FR");
    ::unsetenv("LANG");
    EXPECT_EQ(currentLocaleBcp47(), std::nullopt);
}

}  // namespace
}  // namespace zarn
