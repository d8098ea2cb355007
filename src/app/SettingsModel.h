#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/Observable.h"
#include "settings/Settings.h"

namespace zarn {

// Starting at login: the desktop's autostart entry for zarn-app, present or not.
class Autostart {
public:
    explicit Autostart(std::filesystem::path file);
    // $XDG_CONFIG_HOME/autostart/zarn-app.desktop
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }
    bool isEnabled() const;
    // Writes or removes the entry; false with a reason when the folder refuses.
    bool setEnabled(bool enabled, std::string* error = nullptr);

private:
    std::filesystem::path file_;
};

// One option of a segmented picker, as data.
struct Segment {
    std::string label;
    bool available = true;
    bool selected = false;
    std::function<void()> choose;  // does nothing when unavailable
};

// One section of the settings window: a header, a picker or a toggle, and a note.
struct SettingsSection {
    std::string header;
    std::vector<Segment> segments;  // empty for a toggle
    std::string toggleLabel;
    bool toggleOn = false;
    std::function<void(bool)> setToggle;
    std::string note;
    bool noteIsWarning = false;
};

// What the settings window shows, from the settings and the autostart entry; every
// control writes straight through.
class SettingsModel {
public:
    struct Collaborators {
        Settings& settings;
        std::function<void()> reloadHotkey;
        std::function<bool()> systemSpeechSupported;
        Autostart& autostart;
        std::int64_t modelMegabytes = 0;  // the size the local engine's note names
    };

    explicit SettingsModel(Collaborators collaborators);

    std::string title() const;
    std::vector<SettingsSection> sections();
    // Called after anything shown changed.
    [[nodiscard]] Subscription observe(std::function<void()> onChange);

private:
    Collaborators c_;
    std::string autostartError_;
    Observable<std::uint64_t> autostartRevision_{0};
};

}  // namespace zarn
