#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/Observable.h"
#include "base/SequenceChecker.h"
#include "contracts/PushToTalkKey.h"
#include "contracts/Speech.h"
#include "strings/AppLanguage.h"
#include "strings/Strings.h"

namespace zarn {

// The per-user defaults store: one JSON object in a file, keys to strings and Booleans
// (kept as their JSON types). Every change is written through at once, atomically.
// A damaged or unreadable file reads as empty and is left alone until the first change,
// when it is kept beside the new one as "<name>.damaged" (or "-2", "-3" … after earlier
// ones). A file that is no regular file (a FIFO, a device) is neither read nor replaced.
class DefaultsStore {
public:
    explicit DefaultsStore(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }
    std::optional<nlohmann::json> object(const std::string& key) const;
    // The stored string, or nothing when absent or not a string.
    std::optional<std::string> string(const std::string& key) const;
    void set(const std::string& key, nlohmann::json value);
    bool isDamaged() const { return damaged_; }

    // $XDG_CONFIG_HOME/Zarn/defaults.json
    static std::filesystem::path defaultFile();

private:
    void save();

    std::filesystem::path file_;
    nlohmann::json values_ = nlohmann::json::object();
    bool damaged_ = false;
};

// The user's six choices. Changed and observed on the main executor (checked in debug
// builds); the current strings table it installs is the one value shared across threads
// (behind CurrentStrings' lock).
class Settings {
public:
    // `systemSpeechSupported` answers whether the system speech engine can run here;
    // `preferredLanguages` lists the user's languages, most preferred first.
    Settings(std::shared_ptr<DefaultsStore> defaults, std::function<bool()> systemSpeechSupported,
             std::function<std::vector<std::string>()> preferredLanguages = systemPreferredLanguages);
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Made on first use over DefaultsStore::defaultFile(). The application installs the
    // system speech probe before that (setSharedSystemSpeechProbe).
    static Settings& shared();
    static void setSharedSystemSpeechProbe(std::function<bool()> probe);

    PushToTalkKey pushToTalkKey() const { return *pushToTalkKey_; }
    SpeechEngineChoice engine() const { return *engine_; }
    AppLanguage language() const { return *language_; }
    bool cleanupEnabled() const { return *cleanupEnabled_; }
    bool smartCleanup() const { return *smartCleanup_; }
    bool soundEnabled() const { return *soundEnabled_; }

    // Each setter stores the value at once; observers hear of real changes only.
    void setPushToTalkKey(PushToTalkKey value);
    void setEngine(SpeechEngineChoice value);
    void setLanguage(AppLanguage value);
    void setCleanupEnabled(bool value);
    void setSmartCleanup(bool value);
    void setSoundEnabled(bool value);

    // The table for the resolved interface language, computed at each read.
    Strings strings() const;
    AppLanguage::Resolved resolvedLanguage() const;

    // Called after any property changed value.
    [[nodiscard]] Subscription observe(std::function<void()> onChange);

    DefaultsStore& defaults() { return *defaults_; }

private:
    std::shared_ptr<DefaultsStore> defaults_;
    std::function<std::vector<std::string>()> preferredLanguages_;
    Observable<PushToTalkKey> pushToTalkKey_{PushToTalkKey::rightOption};
    Observable<SpeechEngineChoice> engine_{SpeechEngineChoice::apple};
    Observable<AppLanguage> language_{AppLanguage::system};
    Observable<bool> cleanupEnabled_{true};
    Observable<bool> smartCleanup_{false};
    Observable<bool> soundEnabled_{true};
    Observable<std::uint64_t> revision_{0};
    SequenceChecker sequence_;
};

}  // namespace zarn
