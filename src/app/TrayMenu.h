#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Permissions.h"
#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "dictation/DictationController.h"
#include "settings/Settings.h"

namespace zarn {

// One entry of the tray menu, as data: the front end draws it and calls `trigger`.
struct MenuItem {
    enum class Kind { text, caption, divider, submenu, toggle, button };
    Kind kind = Kind::text;
    std::string label;
    bool enabled = true;
    bool checked = false;   // toggles, and the chosen entry of a submenu
    std::string shortcut;   // in QKeySequence's portable form, e.g. "Ctrl+Q"
    std::vector<MenuItem> choices;  // a submenu's entries
    std::function<void()> trigger;
};

// The local model's download as the menu shows it. Main executor only.
class ModelDownload {
public:
    using Progress = std::function<void(double)>;  // called on the download's own thread
    struct LocalModel {
        std::function<bool()> isDownloaded;
        std::function<void(Progress, Reply<std::exception_ptr>)> download;
        std::int64_t shownMegabytes = 0;  // the size the offer names
    };

    ModelDownload(Executor& main, LocalModel model);

    bool isDownloading() const { return downloading_.get(); }
    double fraction() const { return fraction_.get(); }
    bool isOnDisk() const { return onDisk_.get(); }
    // Nothing while a download runs.
    void start();
    // The menu item's label.
    std::string status(const Strings& strings) const;
    [[nodiscard]] Subscription observe(std::function<void()> onChange);

private:
    Executor& main_;
    LocalModel model_;
    Observable<bool> downloading_{false};
    Observable<double> fraction_{0.0};
    Observable<bool> onDisk_{false};
    Observable<std::uint64_t> revision_{0};
    std::vector<Subscription> forwarding_;
    Lifetime lifetime_;
};

// The tray menu's content, recomputed each time it opens.
class TrayMenu {
public:
    struct Collaborators {
        Settings& settings;
        DictationController& controller;
        Permissions& permissions;
        ModelDownload& model;
        std::function<bool()> systemSpeechSupported;
        std::function<bool()> smartCleanupAvailable;
        std::function<std::optional<std::string>()> smartCleanupUnavailableReason;
        std::function<void()> openSettings;
        std::function<void()> openWindow;
        std::function<void()> checkForUpdates;
        std::function<void()> quit;
        std::function<void(const std::string& title, const std::string& text)> showMessage;
    };

    explicit TrayMenu(Collaborators collaborators);
    std::vector<MenuItem> items() const;

private:
    Collaborators c_;
};

}  // namespace zarn
