#include "app/AppFixture.h"
#include "app/SettingsModel.h"

namespace zarn::test {
namespace {

class SettingsModelTest : public AppFixture {
protected:
    SettingsModelTest() { controller->activate(); }

    std::vector<std::string> labels(std::size_t section) {
        std::vector<std::string> out;
        const auto sections = model.sections();
        for (const auto& segment : sections[section].segments) out.push_back(segment.label);
        return out;
    }

    Autostart autostart{dir / "config" / "autostart" / "zarn-app.desktop"};
    SettingsModel model{{.settings = settings,
                         .reloadHotkey = [this] { controller->reloadHotkey(); },
                         .systemSpeechSupported = [this] { return systemSpeech; },
                         .autostart = autostart,
                         .modelMegabytes = 716}};
};

TEST_F(SettingsModelTest, EveryControlWritesThroughAndTheWindowHearsOfIt) {
    int changes = 0;
    auto subscription = model.observe([&] { ++changes; });
    const int starts = hotkey->startCalls;
    model.sections()[0].segments[0].choose();  // the key already chosen: stored and re-armed all the same
    model.sections()[0].segments[2].choose();
    EXPECT_EQ(settings.pushToTalkKey(), PushToTalkKey::rightCommand);
    EXPECT_EQ(hotkey->startCalls, starts + 2);
    EXPECT_TRUE(model.sections()[0].segments[2].selected);

    model.sections()[1].segments[1].choose();
    EXPECT_EQ(settings.engine(), SpeechEngineChoice::nemotron);
    EXPECT_EQ(model.sections()[1].note, Strings::english().settings.nemotronNote(716));
    model.sections()[2].setToggle(false);
    EXPECT_FALSE(settings.cleanupEnabled());
    EXPECT_FALSE(model.sections()[2].toggleOn);
    model.sections()[3].segments[1].choose();
    EXPECT_EQ(settings.language(), AppLanguage::ru);
    EXPECT_EQ(changes, 4);
}

TEST_F(SettingsModelTest, UnavailableSystemEngineIsShownDimmedWithTheWarning) {
    EXPECT_EQ(model.sections()[1].note, Strings::english().settings.appleNote);
    systemSpeech = false;
    const auto engines = model.sections()[1];
    EXPECT_FALSE(engines.segments[0].available);
    EXPECT_TRUE(engines.segments[0].selected);  // a stored choice stays shown
    EXPECT_TRUE(engines.noteIsWarning);
    EXPECT_EQ(engines.note, Strings::english().settings.appleUnavailable);
    engines.segments[0].choose();
    settings.setEngine(SpeechEngineChoice::nemotron);
    model.sections()[1].segments[0].choose();
    EXPECT_EQ(settings.engine(), SpeechEngineChoice::nemotron);
}

TEST_F(SettingsModelTest, LanguageSwitchRewritesHeadersAndLabels) {
    auto headers = [&] {
        std::vector<std::string> out{model.title()};
        for (const auto& section : model.sections()) out.push_back(section.header);
        return out;
    };
    EXPECT_EQ(labels(3), (std::vector<std::string>{"Auto", "Русский", "English"}));
    settings.setLanguage(AppLanguage::ru);
    EXPECT_EQ(headers(), (std::vector<std::string>{"Настройки Zarn", "Клавиша диктовки", "Модель", "Обработка", "Язык",
                                                   "Запуск при входе"}));
    EXPECT_EQ(model.sections()[2].toggleLabel, "Очищать расшифровки");
    EXPECT_EQ(labels(1), (std::vector<std::string>{"Apple", "Nemotron"}));
}

TEST_F(SettingsModelTest, StartAtLoginWritesAndRemovesTheAutostartEntry) {
    ScopedXdgHome home;
    EXPECT_EQ(Autostart::defaultFile(), home.configHome() / "autostart" / "zarn-app.desktop");

    EXPECT_FALSE(model.sections()[4].toggleOn);
    model.sections()[4].setToggle(true);
    const std::string entry = readFile(autostart.file());
    EXPECT_NE(entry.find("\nExec=zarn-app --background\n"), std::string::npos) << entry;
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_TRUE(model.sections()[4].toggleOn);
    model.sections()[4].setToggle(false);
    EXPECT_FALSE(std::filesystem::exists(autostart.file()));
    EXPECT_FALSE(model.sections()[4].toggleOn);

    // A folder that cannot be made: the toggle stays off and says why.
    writeFile(dir / "config" / "blocked", "");
    Autostart blocked(dir / "config" / "blocked" / "zarn-app.desktop");
    SettingsModel failing({.settings = settings, .autostart = blocked});
    failing.sections()[4].setToggle(true);
    EXPECT_FALSE(failing.sections()[4].toggleOn);
    EXPECT_TRUE(failing.sections()[4].noteIsWarning);
}

}  // namespace
}  // namespace zarn::test
