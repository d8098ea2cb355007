#include "app/Application.h"

#include <algorithm>
#include <cctype>

#include "base/Log.h"

namespace zarn {

namespace {

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The scheme and host of a URL, both lower case (they are case-insensitive); empty parts
// when it is not of the form scheme://host….
std::pair<std::string, std::string> schemeAndHost(const std::string& url) {
    const auto colon = url.find("://");
    if (colon == std::string::npos) return {};
    const auto hostStart = colon + 3;
    const auto hostEnd = url.find_first_of("/?#", hostStart);
    return {lowercase(url.substr(0, colon)), lowercase(url.substr(hostStart, hostEnd - hostStart))};
}

}  // namespace

Application::Application(Collaborators c)
    : main_(c.main),
      settings_(c.settings),
      controller_(c.controller),
      permissions_(c.permissions),
      preloadEngine_(std::move(c.preloadEngine)),
      clearHistory_(std::move(c.clearHistory)),
      showMessage_(std::move(c.showMessage)) {}

Application::~Application() {
    lifetime_.invalidate();
    retryTimer_.cancel();
}

void Application::launch(HudPresenter& hud) {
    hud_ = &hud;
    // A key watch that dies later (the X server restarted, the keyboard unplugged) is armed
    // again by the same wait as a missing permission.
    controller_.setOnHotkeyFailure(lifetime_.guard([this] { retryActivation(); }));
    if (!controller_.activate()) {
        permissions_.promptForAccessibility();
        if (auto help = permissions_.accessibilityHelp(); help && showMessage_) {
            showMessage_(settings_.strings().menu.grantAccessibility, *help);
        }
        retryActivation();
    }

    // The engine's model loads now rather than on the first press, and again whenever the
    // engine setting changes, so the first words of a dictation are never lost to loading.
    preloaded_ = settings_.engine();
    if (preloadEngine_) preloadEngine_(preloaded_);
    settingsSubscription_ = settings_.observe(lifetime_.guard([this] {
        if (settings_.engine() == preloaded_) return;
        preloaded_ = settings_.engine();
        if (preloadEngine_) preloadEngine_(preloaded_);
    }));

    stateSubscription_ = controller_.observeState(lifetime_.guard([this](const DictationController::State& state) {
        main_.post(lifetime_.guard([this, state] { followState(state); }));
    }));

    Log::app().info("Zarn ready — hold %{public}s to dictate",
                    std::string(pushToTalkKey::displayName(settings_.pushToTalkKey())));
    Log::app().info("interface language: %{public}s → %{public}s",
                    std::string(settings_.language().rawValue()), std::string(rawValue(settings_.resolvedLanguage())));
}

void Application::followState(const DictationController::State& state) {
    if (!hud_) return;
    if (state.isActive()) {
        hud_->present();
    } else {
        hud_->dismiss();
    }
}

void Application::retryActivation() {
    if (isWaitingForKey()) return;
    retryTimer_ = main_.postAfter(retryInterval, lifetime_.guard([this] { retryTick(); }));
}

void Application::retryTick() {
    // The permission alone is not enough: another program may hold the key, or the device
    // may still be coming back, so the wait ends only when the key is really armed.
    if (permissions_.hasAccessibility() && controller_.activate()) {
        retryTimer_ = {};
        Log::app().info("Accessibility granted — hotkey armed");
        return;
    }
    retryTimer_ = main_.postAfter(retryInterval, lifetime_.guard([this] { retryTick(); }));
}

void Application::openUrls(const std::vector<std::string>& urls) {
    for (const auto& url : urls) {
        const auto [scheme, host] = schemeAndHost(url);
        if (scheme == "zarn" && host == "clear" && clearHistory_) clearHistory_();
    }
}

void Application::terminate() {
    retryTimer_.cancel();
    retryTimer_ = {};
    controller_.deactivate();
}

}  // namespace zarn
