#include "settings/Settings.h"

#include <mutex>
#include <system_error>

#include "base/Log.h"
#include "base/Paths.h"
#include "strings/CurrentStrings.h"

namespace zarn {
namespace fs = std::filesystem;

namespace Keys {
constexpr const char* pushToTalkKey = "pushToTalkKey";
constexpr const char* engine = "engine";
constexpr const char* language = "language";
constexpr const char* cleanupEnabled = "cleanupEnabled";
constexpr const char* smartCleanup = "smartCleanup";
constexpr const char* soundEnabled = "soundEnabled";
}  // namespace Keys

// ---- DefaultsStore ----

DefaultsStore::DefaultsStore(fs::path file) : file_(std::move(file)) {
    std::string bytes, error;
    auto status = paths::readRegularFile(file_, bytes, &error);
    if (status == paths::ReadStatus::missing) return;
    if (status != paths::ReadStatus::ok) {
        damaged_ = true;
        Log::app().error("settings file unreadable, using defaults: %{public}s", error);
        return;
    }
    auto parsed = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        damaged_ = true;
        Log::app().error("settings file %{public}s is damaged, using defaults until a setting changes",
                         file_.string());
        return;
    }
    values_ = std::move(parsed);
}

fs::path DefaultsStore::defaultFile() { return paths::configDirectory() / "defaults.json"; }

std::optional<nlohmann::json> DefaultsStore::object(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

void DefaultsStore::set(const std::string& key, nlohmann::json value) {
    values_[key] = std::move(value);
    save();
}

void DefaultsStore::save() {
    if (damaged_) {
        // Keep what the user had: the damaged file goes aside, never over an earlier one,
        // before the first write. If it cannot, nothing is written over it.
        std::string error;
        auto aside = paths::keepAside(file_, ".damaged", &error);
        if (!aside) {
            Log::app().error("settings not saved: cannot keep the damaged settings file: %{public}s", error);
            return;
        }
        if (*aside != file_) Log::app().info("damaged settings file kept as %{public}s", aside->string());
        damaged_ = false;
    }
    paths::ensurePrivateDirectory(file_.parent_path());
    std::string error;
    if (!paths::writeFileAtomically(file_, values_.dump(2) + "\n", &error)) {
        Log::app().error("cannot save settings: %{public}s", error);
    }
}

// ---- Settings ----

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::function<bool()>& sharedProbe() {
    static std::function<bool()> probe = [] { return true; };
    return probe;
}

}  // namespace

Settings::Settings(std::shared_ptr<DefaultsStore> defaults, std::function<bool()> systemSpeechSupported,
                   std::function<std::vector<std::string>()> preferredLanguages)
    : defaults_(std::move(defaults)), preferredLanguages_(std::move(preferredLanguages)) {
    auto& store = *defaults_;

    pushToTalkKey_.set(pushToTalkKey::fromRawValue(store.string(Keys::pushToTalkKey).value_or("rightOption"))
                           .value_or(PushToTalkKey::rightOption));

    std::string storedEngine = store.string(Keys::engine).value_or("");
    SpeechEngineChoice engine = storedEngine == "parakeet"
                                    ? SpeechEngineChoice::nemotron
                                    : speechEngineChoice::fromRawValue(storedEngine).value_or(SpeechEngineChoice::apple);
    if (engine == SpeechEngineChoice::apple && systemSpeechSupported && !systemSpeechSupported()) {
        engine = SpeechEngineChoice::nemotron;
        store.set(Keys::engine, std::string(speechEngineChoice::rawValue(engine)));
    }
    engine_.set(engine);

    auto boolean = [&](const char* key, bool fallback) {
        auto value = store.object(key);
        return value && value->is_boolean() ? value->get<bool>() : fallback;
    };
    cleanupEnabled_.set(boolean(Keys::cleanupEnabled, true));
    smartCleanup_.set(boolean(Keys::smartCleanup, false));
    soundEnabled_.set(boolean(Keys::soundEnabled, true));

    language_.set(AppLanguage::fromRawValue(store.string(Keys::language).value_or("")).value_or(AppLanguage::system));
    CurrentStrings::set(strings());
}

Settings& Settings::shared() {
    static Settings* instance = [] {
        std::function<bool()> probe;
        {
            std::lock_guard lock(sharedMutex());
            probe = sharedProbe();
        }
        return new Settings(std::make_shared<DefaultsStore>(DefaultsStore::defaultFile()), probe);
    }();
    return *instance;
}

void Settings::setSharedSystemSpeechProbe(std::function<bool()> probe) {
    std::lock_guard lock(sharedMutex());
    sharedProbe() = std::move(probe);
}

namespace {

template <class T, class Raw>
void writeThrough(Observable<T>& field, T value, DefaultsStore& store, const char* key, Raw raw,
                  Observable<std::uint64_t>& revision) {
    bool changed = field.set(value);
    store.set(key, raw(value));
    if (changed) revision.set(*revision + 1);
}

}  // namespace

void Settings::setPushToTalkKey(PushToTalkKey value) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    writeThrough(pushToTalkKey_, value, *defaults_, Keys::pushToTalkKey,
                 [](PushToTalkKey v) { return std::string(pushToTalkKey::rawValue(v)); }, revision_);
}

void Settings::setEngine(SpeechEngineChoice value) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    writeThrough(engine_, value, *defaults_, Keys::engine,
                 [](SpeechEngineChoice v) { return std::string(speechEngineChoice::rawValue(v)); }, revision_);
}

void Settings::setLanguage(AppLanguage value) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    bool changed = language_.set(value);
    defaults_->set(Keys::language, std::string(value.rawValue()));
    CurrentStrings::set(strings());
    if (changed) revision_.set(*revision_ + 1);
}

void Settings::setCleanupEnabled(bool value) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    writeThrough(cleanupEnabled_, value, *defaults_, Keys::cleanupEnabled, [](bool v) { return v; }, revision_);
}

void Settings::setSmartCleanup(bool value) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    writeThrough(smartCleanup_, value, *defaults_, Keys::smartCleanup, [](bool v) { return v; }, revision_);
}

void Settings::setSoundEnabled(bool value) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    writeThrough(soundEnabled_, value, *defaults_, Keys::soundEnabled, [](bool v) { return v; }, revision_);
}

AppLanguage::Resolved Settings::resolvedLanguage() const {
    return language().resolved(preferredLanguages_ ? preferredLanguages_() : std::vector<std::string>{});
}

Strings Settings::strings() const { return Strings::table(resolvedLanguage()); }

Subscription Settings::observe(std::function<void()> onChange) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    return revision_.subscribe([onChange = std::move(onChange)](const std::uint64_t&) { onChange(); });
}

}  // namespace zarn
