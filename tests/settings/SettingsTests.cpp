#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "settings/Settings.h"
#include "strings/CurrentStrings.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using namespace zarn;
using nlohmann::json;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::filesystem::path file() const { return dir / "defaults.json"; }
    void store(const json& values) { test::writeFile(file(), values.dump()); }
    json stored() const { return json::parse(test::readFile(file())); }
    std::unique_ptr<Settings> load(bool systemSpeech = true, std::vector<std::string> languages = {"en-US"}) {
        return std::make_unique<Settings>(std::make_shared<DefaultsStore>(file()), [=] { return systemSpeech; },
                                          [=] { return languages; });
    }
    void TearDown() override { CurrentStrings::set(Strings::english()); }
};

}  // namespace

TEST_F(SettingsTest, EmptyStoreGivesDefaultsAndWritesNothing) {
    auto settings = load();
    EXPECT_EQ(settings->pushToTalkKey(), PushToTalkKey::rightOption);
    EXPECT_EQ(settings->engine(), SpeechEngineChoice::apple);
    EXPECT_EQ(settings->language(), AppLanguage::system);
    EXPECT_TRUE(settings->cleanupEnabled());
    EXPECT_FALSE(settings->smartCleanup());
    EXPECT_TRUE(settings->soundEnabled());
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(SettingsTest, StoredValuesOfTheWrongFormFallBackWithoutError) {
    store({{"engine", "parakeet"}, {"pushToTalkKey", "leftShift"}, {"cleanupEnabled", "false"},
           {"smartCleanup", true}, {"soundEnabled", 0}, {"language", "de"}});
    auto settings = load();
    EXPECT_EQ(settings->engine(), SpeechEngineChoice::nemotron);
    EXPECT_EQ(settings->pushToTalkKey(), PushToTalkKey::rightOption);
    EXPECT_TRUE(settings->cleanupEnabled());  // a string is not a Boolean
    EXPECT_TRUE(settings->smartCleanup());
    EXPECT_TRUE(settings->soundEnabled());
    EXPECT_EQ(settings->language(), AppLanguage::system);
    EXPECT_EQ(stored()["engine"], "parakeet");  // left for the user to change

    store({{"engine", "Apple"}});
    EXPECT_EQ(load(true)->engine(), SpeechEngineChoice::apple);
    // Without the system engine the choice falls back to Nemotron and is written back.
    EXPECT_EQ(load(false)->engine(), SpeechEngineChoice::nemotron);
    EXPECT_EQ(stored()["engine"], "nemotron");
}

TEST_F(SettingsTest, WritesThroughAtOnceAndNotifiesOnlyRealChanges) {
    auto settings = load();
    int notifications = 0;
    auto sub = settings->observe([&] { ++notifications; });
    settings->setSoundEnabled(true);  // equal: stored, nobody told
    EXPECT_EQ(notifications, 0);
    EXPECT_EQ(stored()["soundEnabled"], true);
    settings->setSoundEnabled(false);
    settings->setPushToTalkKey(PushToTalkKey::fn);
    settings->setEngine(SpeechEngineChoice::nemotron);
    settings->setSmartCleanup(true);
    EXPECT_EQ(notifications, 4);
    auto values = stored();
    EXPECT_EQ(values["soundEnabled"], false);
    EXPECT_EQ(values["pushToTalkKey"], "fn");
    EXPECT_EQ(values["engine"], "nemotron");
    EXPECT_EQ(values["smartCleanup"], true);

    auto reloaded = load();
    EXPECT_EQ(reloaded->pushToTalkKey(), PushToTalkKey::fn);
    EXPECT_FALSE(reloaded->soundEnabled());
}

TEST_F(SettingsTest, LanguageSwitchesTheCurrentTableAtOnce) {
    auto settings = load(true, {"en-GB", "ru-RU"});
    EXPECT_EQ(CurrentStrings::value().transport.record, "Record");
    settings->setLanguage(AppLanguage::ru);
    EXPECT_EQ(settings->strings().transport.record, "Запись");
    EXPECT_EQ(CurrentStrings::value().transport.record, "Запись");
    EXPECT_EQ(stored()["language"], "ru");
    EXPECT_EQ(TranscriptionError::noAudioFormat().errorDescription(), "Нет подходящего аудиоформата для речевого движка.");

    auto russianSystem = load(true, {"ru-RU"});
    settings->setLanguage(AppLanguage::system);
    EXPECT_EQ(settings->resolvedLanguage(), AppLanguage::Resolved::en);
    EXPECT_EQ(russianSystem->resolvedLanguage(), AppLanguage::Resolved::ru);
}

TEST_F(SettingsTest, DamagedFileIsKeptAsideOnlyWhenTheUserChangesSomething) {
    test::LogCapture logs;
    test::writeFile(file(), "{\"engine\": \"nemo");
    auto settings = load();
    EXPECT_EQ(settings->engine(), SpeechEngineChoice::apple);
    ASSERT_EQ(logs.count(), 1u);
    EXPECT_EQ(logs.records()[0].level, Log::Level::error);
    EXPECT_EQ(test::readFile(file()), "{\"engine\": \"nemo");  // untouched by loading

    settings->setCleanupEnabled(false);
    settings->setSoundEnabled(false);  // once kept, the file is no longer damaged
    EXPECT_EQ(test::readFile(dir / "defaults.json.damaged"), "{\"engine\": \"nemo");
    EXPECT_EQ(stored()["cleanupEnabled"], false);

    // A later damaged file never replaces the one kept before.
    test::writeFile(file(), "[]");
    load()->setSoundEnabled(false);
    EXPECT_EQ(test::readFile(dir / "defaults.json.damaged"), "{\"engine\": \"nemo");
    EXPECT_EQ(test::readFile(dir / "defaults.json.damaged-2"), "[]");
}

TEST_F(SettingsTest, LinkedFileIsWrittenWhereItLivesAndAFifoIsLeftAlone) {
    std::filesystem::create_symlink(dir / "dotfiles.json", file());
    store({{"soundEnabled", true}});
    load()->setSoundEnabled(false);
    EXPECT_TRUE(std::filesystem::is_symlink(file()));
    EXPECT_EQ(json::parse(test::readFile(dir / "dotfiles.json"))["soundEnabled"], false);

    std::filesystem::remove(file());
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    test::LogCapture quiet;
    auto settings = load();  // does not block
    settings->setSoundEnabled(false);
    EXPECT_TRUE(std::filesystem::is_fifo(file()));
    EXPECT_FALSE(settings->soundEnabled());
}
