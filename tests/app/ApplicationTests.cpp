#include "app/AppFixture.h"

namespace zarn::test {
namespace {

using namespace std::chrono_literals;

class ApplicationTest : public AppFixture {
protected:
    void makeApplication() {
        application = std::make_unique<Application>(Application::Collaborators{
            .main = executor,
            .settings = settings,
            .controller = *controller,
            .permissions = permissions,
            .preloadEngine = [this](SpeechEngineChoice choice) { preloads.push_back(choice); },
            .clearHistory = [this] { ++clears; },
            .showMessage = [this](const std::string&, const std::string& text) { messages.push_back(text); },
        });
    }

    FakeHud hud;
    std::vector<SpeechEngineChoice> preloads;
    std::vector<std::string> messages;
    int clears = 0;
    std::unique_ptr<Application> application;
};

TEST_F(ApplicationTest, LaunchArmsTheKeyPreloadsAndLogsReadiness) {
    makeApplication();
    application->launch(hud);
    EXPECT_EQ(hotkey->startCalls, 1);
    EXPECT_EQ(permissions.prompts, 0);
    EXPECT_FALSE(application->isWaitingForKey());
    EXPECT_EQ(preloads, std::vector<SpeechEngineChoice>{SpeechEngineChoice::apple});
    EXPECT_EQ(logCount("Zarn ready — hold Right ⌥ to dictate"), 1);
    EXPECT_EQ(logCount("interface language: system → en"), 1);
    // Only an engine change preloads again, and only the new engine.
    settings.setSoundEnabled(false);
    settings.setEngine(SpeechEngineChoice::nemotron);
    settings.setCleanupEnabled(false);
    settings.setEngine(SpeechEngineChoice::apple);
    EXPECT_EQ(preloads, (std::vector<SpeechEngineChoice>{SpeechEngineChoice::apple, SpeechEngineChoice::nemotron,
                                                         SpeechEngineChoice::apple}));
}

TEST_F(ApplicationTest, RefusedKeyPromptsOnceThenArmsWhenGranted) {
    hotkey->startResult = false;
    permissions.accessibility = false;
    permissions.help = "grant the input group";
    makeApplication();
    application->launch(hud);
    EXPECT_EQ(permissions.prompts, 1);
    EXPECT_EQ(messages, std::vector<std::string>{"grant the input group"});
    EXPECT_TRUE(application->isWaitingForKey());

    executor.advanceBy(3s);
    EXPECT_EQ(hotkey->startCalls, 1);  // no permission yet: not even tried

    // Granted, but the key is still held elsewhere for one more second.
    permissions.accessibility = true;
    executor.advanceBy(1s);
    EXPECT_TRUE(application->isWaitingForKey());
    hotkey->startResult = true;
    executor.advanceBy(1s);
    EXPECT_FALSE(application->isWaitingForKey());
    EXPECT_EQ(logCount("Accessibility granted — hotkey armed"), 1);
    EXPECT_EQ(permissions.prompts, 1);

    hotkey->press();
    executor.runUntilIdle();
    EXPECT_TRUE(controller->state().isActive());
    executor.advanceBy(10s);
    EXPECT_EQ(logCount("Accessibility granted — hotkey armed"), 1);
}

TEST_F(ApplicationTest, DeadKeyWatchCancelsTheDictationAndIsArmedAgain) {
    makeApplication();
    application->launch(hud);
    hotkey->press();
    executor.runUntilIdle();
    ASSERT_TRUE(controller->state().isActive());
    hotkey->startResult = false;  // the X server is still gone
    hotkey->die();
    executor.runUntilIdle();
    EXPECT_FALSE(controller->state().isActive());
    EXPECT_TRUE(application->isWaitingForKey());
    executor.advanceBy(2s);
    EXPECT_FALSE(hotkey->running);
    hotkey->startResult = true;
    executor.advanceBy(1s);
    EXPECT_TRUE(hotkey->running);
    EXPECT_FALSE(application->isWaitingForKey());
}

TEST_F(ApplicationTest, HudFollowsTheDictation) {
    makeApplication();
    application->launch(hud);
    hotkey->press();
    executor.runUntilIdle();
    hotkey->release();
    executor.runUntilIdle();
    ASSERT_FALSE(hud.calls.empty());
    EXPECT_EQ(hud.calls.front(), "present");
    EXPECT_EQ(hud.calls.back(), "dismiss");
    EXPECT_FALSE(controller->state().isActive());
}

TEST_F(ApplicationTest, OnlyZarnClearLinksClearTheHistory) {
    makeApplication();
    application->launch(hud);
    application->openUrls({"zarn://clear", "ZARN://Clear/", "zarn://other", "zarn:clear", "https://clear", "clear"});
    EXPECT_EQ(clears, 2);
}

TEST_F(ApplicationTest, TerminateStopsTheKeyAndTheWait) {
    hotkey->startResult = false;
    permissions.accessibility = false;
    makeApplication();
    application->launch(hud);
    application->terminate();
    EXPECT_FALSE(hotkey->running);
    permissions.accessibility = true;
    hotkey->startResult = true;
    executor.advanceBy(5s);
    EXPECT_EQ(logCount("Accessibility granted — hotkey armed"), 0);
}

}  // namespace
}  // namespace zarn::test
