#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Permissions.h"
#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "contracts/Speech.h"
#include "dictation/DictationController.h"
#include "settings/Settings.h"

namespace zarn {

// The application's own behaviour, with no widget in it: the launch sequence, the wait for
// the permission to watch the key, the HUD following the dictation, zarn:// links and the
// end. Lives on the main executor.
class Application {
public:
    struct Collaborators {
        Executor& main;
        Settings& settings;
        DictationController& controller;
        Permissions& permissions;
        // Loads the engine's model off the main executor, so a press starts at once.
        std::function<void(SpeechEngineChoice)> preloadEngine;
        // Empties the history file and reloads the shown list.
        std::function<void()> clearHistory;
        // Shows a message to the user (title, text); the front end decides how.
        std::function<void(const std::string&, const std::string&)> showMessage;
    };

    static constexpr Duration retryInterval = std::chrono::seconds(1);

    explicit Application(Collaborators collaborators);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // `hud` must outlive the application.
    void launch(HudPresenter& hud);
    void openUrls(const std::vector<std::string>& urls);
    void terminate();

    // While the key cannot be watched: true until it is armed again.
    bool isWaitingForKey() const { return retryTimer_.isValid() && !retryTimer_.isCancelled(); }
    // Arms the key again once the permission (or the key's device) is back.
    void retryActivation();

private:
    void retryTick();
    void followState(const DictationController::State& state);

    Executor& main_;
    Settings& settings_;
    DictationController& controller_;
    Permissions& permissions_;
    std::function<void(SpeechEngineChoice)> preloadEngine_;
    std::function<void()> clearHistory_;
    std::function<void(const std::string&, const std::string&)> showMessage_;

    HudPresenter* hud_ = nullptr;
    TimerHandle retryTimer_;
    SpeechEngineChoice preloaded_ = SpeechEngineChoice::apple;
    Subscription stateSubscription_;
    Subscription settingsSubscription_;
    Lifetime lifetime_;
};

}  // namespace zarn
