#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>

#include "dictation/FakeDictation.h"
#include "ui/Hud.h"
#include "ui/QtApp.h"
#include "ui/SettingsWindow.h"

namespace zarn::ui {
namespace {

bool eventuallyTrue(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// What the view draws; the texts themselves are hudContent's (tests/app).
TEST(HudViewTest, RendersTheStateInTwoLinesWithTheMeterOnlyWhileListening) {
    test::ensureQApplication();
    test::FakeDictation dictation;
    HUDView view(*dictation.controller, dictation.settings);
    EXPECT_EQ(view.shownText(), "");
    dictation.listen();
    EXPECT_EQ(view.shownText(), "Listening…");
    EXPECT_FALSE(view.meter().isHidden());

    std::string words;
    for (int i = 0; i < 40; ++i) words += "word" + std::to_string(i) + " ";
    dictation.say(words + "newest");
    const QString shown = view.shownText();
    EXPECT_TRUE(shown.startsWith("…") && shown.endsWith("word39 newest")) << shown.toStdString();
    QFontMetrics metrics(view.font());
    EXPECT_LE(metrics.boundingRect(QRect(0, 0, 200, 1000), Qt::TextWordWrap, shown).height(), 3 * metrics.lineSpacing());

    dictation.level(1.0f);  // the controller smooths it
    const int lit = litBars(dictation.controller->level(), true, 7);
    EXPECT_GT(lit, 0);
    EXPECT_TRUE(eventuallyTrue([&] { return view.meter().litBars() == lit; }));
    auto* accessible = QAccessible::queryAccessibleInterface(&view.meter());
    ASSERT_NE(accessible, nullptr);
    EXPECT_TRUE(accessible->state().invisible);

    test::FakeDictation refused;
    HUDView errorView(*refused.controller, refused.settings);
    refused.fail();
    EXPECT_TRUE(errorView.shownText().endsWith("Microphone.")) << errorView.shownText().toStdString();
    EXPECT_TRUE(errorView.meter().isHidden());
}

TEST(SettingsWindowTest, ClicksWriteThroughAndTheLanguageRewritesEveryText) {
    test::ensureQApplication();
    test::FakeDictation dictation;
    dictation.systemSpeech = false;
    test::TempDir config;
    Autostart autostart(config / "autostart" / "zarn-app.desktop");
    SettingsModel model({.settings = dictation.settings,
                         .reloadHotkey = [&] { dictation.controller->reloadHotkey(); },
                         .systemSpeechSupported = [&] { return dictation.systemSpeech; },
                         .autostart = autostart,
                         .modelMegabytes = 716});
    SettingsWindow window(model);
    const auto& sections = window.sections();
    ASSERT_EQ(sections.size(), 5u);

    GlassSegmentedPicker& engines = *sections[1].picker;
    EXPECT_FALSE(engines.button(0)->isEnabled());
    EXPECT_FALSE(sections[1].noteIcon->isHidden());
    engines.button(1)->click();
    EXPECT_EQ(dictation.settings.engine(), SpeechEngineChoice::nemotron);

    sections[2].toggle->click();
    EXPECT_FALSE(dictation.settings.cleanupEnabled());
    sections[4].toggle->click();
    EXPECT_TRUE(std::filesystem::exists(autostart.file()));

    // The texts are the model's (tests/app); the window must redraw them all.
    sections[3].picker->button(1)->click();
    EXPECT_EQ(window.windowTitle(), "Настройки Zarn");
    EXPECT_EQ(sections[0].header->text(), "Клавиша диктовки");
    EXPECT_EQ(sections[4].toggle->text(), "Запускать Zarn при входе в систему");
    EXPECT_TRUE(sections[4].toggle->isChecked());
}

}  // namespace
}  // namespace zarn::ui
