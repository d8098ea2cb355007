#include "app/SettingsModel.h"

#include <cstdlib>
#include <system_error>

#include "app/AutostartEntry.h"
#include "base/Log.h"
#include "base/Paths.h"

namespace zarn {

Autostart::Autostart(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path Autostart::defaultFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path base =
        config && *config == '/' ? std::filesystem::path(config) : paths::homeDirectory() / ".config";
    return base / "autostart" / "zarn-app.desktop";
}

bool Autostart::isEnabled() const {
    std::error_code ignored;
    return std::filesystem::exists(file_, ignored);
}

bool Autostart::setEnabled(bool enabled, std::string* error) {
    std::error_code code;
    if (!enabled) {
        std::filesystem::remove(file_, code);
    } else {
        std::filesystem::create_directories(file_.parent_path(), code);
        if (!code && !paths::writeFileAtomically(file_, kAutostartEntry, error)) return false;
    }
    if (code && error) *error = file_.string() + ": " + code.message();
    return !code;
}

SettingsModel::SettingsModel(Collaborators collaborators) : c_(std::move(collaborators)) {}

Subscription SettingsModel::observe(std::function<void()> onChange) {
    auto fromSettings = std::make_shared<Subscription>(c_.settings.observe(onChange));
    auto fromAutostart = std::make_shared<Subscription>(
        autostartRevision_.subscribe([onChange](const std::uint64_t&) { onChange(); }));
    return Subscription([fromSettings, fromAutostart] {
        fromSettings->reset();
        fromAutostart->reset();
    });
}

std::string SettingsModel::title() const { return c_.settings.strings().settings.title; }

std::vector<SettingsSection> SettingsModel::sections() {
    Settings& settings = c_.settings;
    const auto L = settings.strings().settings;
    std::vector<SettingsSection> sections;

    SettingsSection keys{.header = L.pushToTalk, .note = L.pushToTalkNote};
    for (PushToTalkKey key : pushToTalkKey::allCases) {
        // Even the key already chosen re-arms: it is how a user recovers a lost grab.
        keys.segments.push_back({.label = std::string(pushToTalkKey::displayName(key)),
                                 .selected = key == settings.pushToTalkKey(),
                                 .choose = [this, key] {
                                     c_.settings.setPushToTalkKey(key);
                                     if (c_.reloadHotkey) c_.reloadHotkey();
                                 }});
    }
    sections.push_back(std::move(keys));

    const bool systemSupported = !c_.systemSpeechSupported || c_.systemSpeechSupported();
    SettingsSection engines{.header = L.model};
    for (SpeechEngineChoice engine : speechEngineChoice::allCases) {
        const bool available = engine != SpeechEngineChoice::apple || systemSupported;
        engines.segments.push_back({.label = engine == SpeechEngineChoice::apple ? "Apple" : "Nemotron",
                                    .available = available,
                                    .selected = engine == settings.engine(),
                                    .choose = [this, engine, available] {
                                        if (available) c_.settings.setEngine(engine);
                                    }});
    }
    if (!systemSupported) {
        engines.note = L.appleUnavailable;
        engines.noteIsWarning = true;
    } else {
        engines.note = settings.engine() == SpeechEngineChoice::apple ? L.appleNote : L.nemotronNote(c_.modelMegabytes);
    }
    sections.push_back(std::move(engines));

    sections.push_back({.header = L.cleanup,
                        .toggleLabel = L.cleanupToggle,
                        .toggleOn = settings.cleanupEnabled(),
                        .setToggle = [this](bool on) { c_.settings.setCleanupEnabled(on); },
                        .note = L.cleanupNote});

    SettingsSection languages{.header = L.language, .note = L.languageNote};
    for (AppLanguage language : AppLanguage::allCases()) {
        languages.segments.push_back({.label = std::string(language.displayName()),
                                      .selected = language == settings.language(),
                                      .choose = [this, language] { c_.settings.setLanguage(language); }});
    }
    sections.push_back(std::move(languages));

    sections.push_back({.header = L.startAtLogin,
                        .toggleLabel = L.startAtLoginToggle,
                        .toggleOn = c_.autostart.isEnabled(),
                        .setToggle = [this](bool on) {
                            std::string error;
                            if (!c_.autostart.setEnabled(on, &error)) {
                                Log::app().error("autostart entry not changed: %{public}s", error);
                            }
                            autostartError_ = error;
                            autostartRevision_.set(autostartRevision_.get() + 1);
                        },
                        .note = autostartError_.empty() ? L.startAtLoginNote : autostartError_,
                        .noteIsWarning = !autostartError_.empty()});
    return sections;
}

}  // namespace zarn
