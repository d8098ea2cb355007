#include "app/AppFixture.h"
#include "app/TrayMenu.h"

namespace zarn::test {
namespace {

using Kind = MenuItem::Kind;

class TrayMenuTest : public AppFixture {
protected:
    TrayMenuTest() {
        download = std::make_unique<ModelDownload>(
            executor, ModelDownload::LocalModel{
                          .isDownloaded = [this] { return onDisk; },
                          .download = [this](ModelDownload::Progress progress, Reply<std::exception_ptr> done) {
                              progressReport = std::move(progress);
                              finishDownload = std::move(done);
                          }});
        menu = std::make_unique<TrayMenu>(TrayMenu::Collaborators{
            .settings = settings,
            .controller = *controller,
            .permissions = permissions,
            .model = *download,
            .systemSpeechSupported = [this] { return systemSpeech; },
            .smartCleanupAvailable = [this] { return smartAvailable; },
            .smartCleanupUnavailableReason = [this] { return smartReason; },
            .openSettings = [this] { ++settingsOpened; },
            .checkForUpdates = [this] { ++updateChecks; },
            .quit = [this] { ++quits; },
            .showMessage = [this](const std::string&, const std::string& text) { messages.push_back(text); },
        });
        controller->activate();
    }

    // The labels of the top-level items, "—" for dividers.
    std::vector<std::string> labels() {
        std::vector<std::string> out;
        for (const auto& item : menu->items()) out.push_back(item.kind == Kind::divider ? "—" : item.label);
        return out;
    }
    MenuItem item(const std::string& label) {
        for (const auto& item : menu->items()) {
            if (item.label == label) return item;
        }
        ADD_FAILURE() << "no menu item " << label;
        return {};
    }

    bool onDisk = false;
    bool smartAvailable = true;
    std::optional<std::string> smartReason;
    int updateChecks = 0, settingsOpened = 0;
    int quits = 0;
    std::vector<std::string> messages;
    ModelDownload::Progress progressReport;
    Reply<std::exception_ptr> finishDownload;
    std::unique_ptr<ModelDownload> download;
    std::unique_ptr<TrayMenu> menu;
};

TEST_F(TrayMenuTest, ItemsFollowSettingsAndAvailability) {
    struct Row {
        const char* name;
        std::function<void()> setup;
        std::vector<std::string> expected;
    };
    // Every menu starts with the key's hint and the pickers and ends with these three.
    auto with = [&](std::vector<std::string> middle) {
        std::vector<std::string> all{"Hold Right ⌥ to dictate", "—", "Push-to-talk key", "Engine", "Clean up text"};
        all.insert(all.end(), middle.begin(), middle.end());
        for (const char* last : {"Settings…", "Check for Updates…", "Quit Zarn"}) all.push_back(last);
        return all;
    };
    const std::string reason = "The on-device model is unavailable.";
    const std::vector<Row> rows{
        {"defaults", [] {}, with({"Smart cleanup (on-device AI)", "Sound", "—"})},
        {"cleanup off hides smart cleanup and its reason",
         [&] {
             smartReason = reason;
             settings.setCleanupEnabled(false);
         },
         with({"Sound", "—"})},
        {"unavailable model shows its reason", [&] { smartReason = reason; },
         with({"Smart cleanup (on-device AI)", reason, "Sound", "—"})},
        {"local engine offers its model, missing permissions their grants",
         [this] {
             settings.setEngine(SpeechEngineChoice::nemotron);
             permissions.accessibility = false;
             permissions.microphone = false;
         },
         with({"Smart cleanup (on-device AI)", "Sound", "—", download->status(settings.strings()), "Grant Accessibility…",
               "Grant Microphone…"})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        settings.setCleanupEnabled(true);
        settings.setEngine(SpeechEngineChoice::apple);
        permissions.accessibility = permissions.microphone = true;
        smartReason.reset();
        row.setup();
        EXPECT_EQ(labels(), row.expected);
    }
}

TEST_F(TrayMenuTest, TogglesAndPickersChangeSettingsLive) {
    smartAvailable = false;
    EXPECT_FALSE(item("Smart cleanup (on-device AI)").enabled);
    item("Sound").trigger();
    EXPECT_FALSE(settings.soundEnabled());
    EXPECT_FALSE(item("Sound").checked);
    item("Clean up text").trigger();
    EXPECT_FALSE(settings.cleanupEnabled());

    // A key chosen in the menu is stored and re-armed at once, even the same key.
    const int starts = hotkey->startCalls;
    const auto keys = item("Push-to-talk key").choices;
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_TRUE(keys[0].checked);
    keys[2].trigger();
    EXPECT_EQ(settings.pushToTalkKey(), PushToTalkKey::rightCommand);
    EXPECT_EQ(hotkey->key, PushToTalkKey::rightCommand);
    item("Push-to-talk key").choices[2].trigger();
    EXPECT_EQ(hotkey->startCalls, starts + 2);
    EXPECT_EQ(item("Hold Right ⌘ to dictate").kind, Kind::text);

    systemSpeech = false;
    const auto engines = item("Engine").choices;
    EXPECT_FALSE(engines[0].enabled);
    EXPECT_TRUE(engines[1].enabled);
    engines[1].trigger();
    EXPECT_EQ(settings.engine(), SpeechEngineChoice::nemotron);

    item("Check for Updates…").trigger();
    item("Settings…").trigger();
    EXPECT_EQ(std::pair(updateChecks, settingsOpened), std::pair(1, 1));
    EXPECT_EQ(item("Quit Zarn").shortcut, "Ctrl+Q");
    item("Quit Zarn").trigger();
    EXPECT_EQ(quits, 1);
}

TEST_F(TrayMenuTest, ModelDownloadShowsTruncatedProgressThenOffersAgainAfterFailure) {
    settings.setEngine(SpeechEngineChoice::nemotron);
    const std::string offer = download->status(settings.strings());
    item(offer).trigger();
    ASSERT_TRUE(progressReport);
    progressReport(0.429);
    executor.runUntilIdle();
    const MenuItem running = item("Downloading model… 42%");
    EXPECT_FALSE(running.enabled);
    running.trigger();  // disabled in the menu, and a second start does nothing either
    finishDownload(std::make_exception_ptr(std::runtime_error("disk full")));
    executor.runUntilIdle();
    EXPECT_EQ(logCount("Nemotron download failed: disk full"), 1);
    EXPECT_TRUE(item(offer).enabled);

    item(offer).trigger();
    onDisk = true;
    finishDownload(nullptr);
    executor.runUntilIdle();
    EXPECT_FALSE(item("Nemotron model installed ✓").enabled);
}

TEST_F(TrayMenuTest, GrantItemsShowWhatTheSystemCannotOpen) {
    permissions.accessibility = false;
    item("Grant Accessibility…").trigger();
    EXPECT_EQ(permissions.openedAccessibility, 1);
    EXPECT_EQ(messages, std::vector<std::string>{"how to grant"});
}

}  // namespace
}  // namespace zarn::test
