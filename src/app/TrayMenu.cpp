#include "app/TrayMenu.h"

#include <cmath>

#include "base/Log.h"
#include "base/Error.h"

namespace zarn {

ModelDownload::ModelDownload(Executor& main, LocalModel model) : main_(main), model_(std::move(model)) {
    onDisk_.set(model_.isDownloaded && model_.isDownloaded());
    auto bump = [this](const auto&) { revision_.set(revision_.get() + 1); };
    forwarding_.push_back(downloading_.subscribe(bump));
    forwarding_.push_back(fraction_.subscribe(bump));
    forwarding_.push_back(onDisk_.subscribe(bump));
}

Subscription ModelDownload::observe(std::function<void()> onChange) {
    return revision_.subscribe([onChange = std::move(onChange)](const std::uint64_t&) { onChange(); });
}

void ModelDownload::start() {
    if (downloading_.get() || !model_.download) return;
    fraction_.set(0.0);
    downloading_.set(true);
    auto progress = [this, guard = lifetime_.guard([this](double fraction) {
                         if (downloading_.get()) fraction_.set(fraction);
                     })](double fraction) mutable { main_.post([guard, fraction]() mutable { guard(fraction); }); };
    model_.download(progress, Reply<std::exception_ptr>(main_, lifetime_.guard([this](std::exception_ptr error) {
                        if (error) {
                            Log::speech().error("Nemotron download failed: %{public}s", describeError(error));
                        } else {
                            onDisk_.set(model_.isDownloaded && model_.isDownloaded());
                        }
                        downloading_.set(false);
                    })));
}

std::string ModelDownload::status(const Strings& strings) const {
    if (downloading_.get()) return strings.menu.downloadingModel(static_cast<std::int64_t>(std::trunc(fraction_.get() * 100)));
    if (onDisk_.get()) return strings.menu.modelInstalled;
    return strings.menu.downloadModel(model_.shownMegabytes);
}

TrayMenu::TrayMenu(Collaborators collaborators) : c_(std::move(collaborators)) {}

std::vector<MenuItem> TrayMenu::items() const {
    using Kind = MenuItem::Kind;
    Settings& settings = c_.settings;
    const Strings strings = settings.strings();
    std::vector<MenuItem> items;
    auto divider = [&] { items.push_back({.kind = Kind::divider}); };
    auto toggle = [&](std::string label, bool on, std::function<void(bool)> set, bool enabled = true) {
        items.push_back({.kind = Kind::toggle,
                         .label = std::move(label),
                         .enabled = enabled,
                         .checked = on,
                         .trigger = [set = std::move(set), on] { set(!on); }});
    };
    auto button = [&](std::string label, std::function<void()> action, bool enabled = true) {
        items.push_back({.kind = Kind::button, .label = std::move(label), .enabled = enabled, .trigger = std::move(action)});
    };

    const PushToTalkKey key = settings.pushToTalkKey();
    items.push_back({.kind = Kind::text, .label = strings.menu.holdToDictate(std::string(pushToTalkKey::displayName(key))),
                     .enabled = false});
    divider();

    MenuItem keys{.kind = Kind::submenu, .label = strings.menu.pushToTalkKey};
    for (PushToTalkKey choice : pushToTalkKey::allCases) {
        keys.choices.push_back({.kind = Kind::toggle,
                                .label = std::string(pushToTalkKey::displayName(choice)),
                                .checked = choice == key,
                                // Even the same key re-arms: it is how a user recovers a lost grab.
                                .trigger = [this, choice] {
                                    c_.settings.setPushToTalkKey(choice);
                                    c_.controller.reloadHotkey();
                                }});
    }
    items.push_back(std::move(keys));

    MenuItem engines{.kind = Kind::submenu, .label = strings.menu.engine};
    const bool systemSupported = !c_.systemSpeechSupported || c_.systemSpeechSupported();
    for (SpeechEngineChoice choice : speechEngineChoice::allCases) {
        engines.choices.push_back({.kind = Kind::toggle,
                                   .label = std::string(speechEngineChoice::displayName(choice)),
                                   .enabled = choice != SpeechEngineChoice::apple || systemSupported,
                                   .checked = choice == settings.engine(),
                                   .trigger = [this, choice] { c_.settings.setEngine(choice); }});
    }
    items.push_back(std::move(engines));

    toggle(strings.menu.cleanUpText, settings.cleanupEnabled(), [this](bool on) { c_.settings.setCleanupEnabled(on); });
    if (settings.cleanupEnabled()) {
        const bool available = !c_.smartCleanupAvailable || c_.smartCleanupAvailable();
        toggle(strings.menu.smartCleanup, settings.smartCleanup(), [this](bool on) { c_.settings.setSmartCleanup(on); },
               available);
        if (auto reason = c_.smartCleanupUnavailableReason ? c_.smartCleanupUnavailableReason() : std::nullopt) {
            items.push_back({.kind = Kind::caption, .label = *reason, .enabled = false});
        }
    }
    toggle(strings.menu.sound, settings.soundEnabled(), [this](bool on) { c_.settings.setSoundEnabled(on); });
    divider();

    if (settings.engine() == SpeechEngineChoice::nemotron) {
        button(c_.model.status(strings), [this] { c_.model.start(); },
               !c_.model.isDownloading() && !c_.model.isOnDisk());
    }
    auto showIfAny = [this, title = strings.menu.grantAccessibility](std::optional<std::string> text) {
        if (text && c_.showMessage) c_.showMessage(title, *text);
    };
    if (!c_.permissions.hasAccessibility()) {
        button(strings.menu.grantAccessibility, [this, showIfAny] { showIfAny(c_.permissions.openAccessibilitySettings()); });
    }
    if (!c_.permissions.hasMicrophone()) {
        button(strings.menu.grantMicrophone, [this, title = strings.menu.grantMicrophone] {
            if (auto text = c_.permissions.openMicrophoneSettings(); text && c_.showMessage) c_.showMessage(title, *text);
        });
    }
    if (c_.openWindow) button(strings.menu.openWindow, c_.openWindow);
    items.push_back({.kind = Kind::button, .label = strings.menu.settings, .shortcut = "Ctrl+,", .trigger = [this] {
                         if (c_.openSettings) c_.openSettings();
                     }});
    button(strings.menu.checkForUpdates, [this] {
        if (c_.checkForUpdates) c_.checkForUpdates();
    });
    items.push_back({.kind = Kind::button, .label = strings.menu.quit, .shortcut = "Ctrl+Q", .trigger = [this] {
                         if (c_.quit) c_.quit();
                     }});
    return items;
}

}  // namespace zarn
