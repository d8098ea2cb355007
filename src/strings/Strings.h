#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "strings/AppLanguage.h"

namespace zarn {

// Every text the user sees in the interface. There are exactly two tables, English and Russian;
// entries that take a value are functions, so each language builds its own sentence.
// Numbers are written in plain decimal (no grouping, "-" for negatives).
struct Strings {
    using NumberText = std::function<std::string(std::int64_t)>;
    using TextText = std::function<std::string(const std::string&)>;

    struct Transport {
        std::string record;
        std::string stop;
    };

    struct Tabs {
        std::string transcriptions;
        std::string dictionary;
    };

    struct Transcriptions {
        std::string searchPlaceholder;
        std::string emptyTitle;
        std::string emptyDetail;
        std::string noMatchesTitle;
        std::string noMatchesDetail;
        NumberText recordingCount;
        std::string deleteAll;
        NumberText deleteAllConfirm;
        std::string deleteAllButton;
        std::string cancel;
        std::string cannotBeUndone;
        std::string copy;
        std::string copied;
        std::string deleteThis;
        std::string corrected;
    };

    struct Dictionary {
        std::string searchPlaceholder;
        std::string emptyTitle;
        std::string emptyDetail;
        std::string noMatchesTitle;
        std::string noMatchesDetail;
        std::string add;
        NumberText entryCount;
        std::string revealFile;
        std::string kindFix;
        std::string kindTerm;
        std::string kindCorrection;
        std::string edit;
        std::string turnOff;
        std::string turnOn;
        std::string delete_;  // "delete" is a C++ keyword
        std::string newEntry;
        std::string editEntry;
        std::string whenYouHear;
        std::string write;
        std::string wordOrPhrase;
        std::string cancel;
        std::string save;
    };

    struct SettingsPanel {
        std::string pushToTalk;
        std::string pushToTalkNote;
        std::string model;
        std::string appleNote;
        NumberText nemotronNote;  // the model's size in MB
        std::string cleanup;
        std::string cleanupToggle;
        std::string cleanupNote;
        std::string language;
        std::string languageNote;
        std::string appleUnavailable;
        // The Linux window's own: its title and the autostart section.
        std::string title;
        std::string startAtLogin;
        std::string startAtLoginToggle;
        std::string startAtLoginNote;
    };

    struct Menu {
        TextText holdToDictate;  // the key's display name
        std::string pushToTalkKey;
        std::string engine;
        std::string cleanUpText;
        std::string smartCleanup;
        std::string sound;
        std::string revealDictionary;
        std::string openWindow;  // the tray's way back to the main window
        std::string settings;    // opens the settings window (tray and main window)
        std::string grantAccessibility;
        std::string grantMicrophone;
        std::string quit;
        std::string checkForUpdates;
        NumberText downloadModel;  // the model's size in MB
        std::string modelInstalled;
        NumberText downloadingModel;  // percent
    };

    struct HUD {
        std::string listening;
        std::string transcribing;
    };

    struct Errors {
        TextText localeUnsupported;   // the locale's name
        TextText modelInstallFailed;  // the cause
        std::string noAudioFormat;
        std::string notRunning;
        std::string microphoneOff;
        std::string modelNotDownloaded;
    };

    struct ModelAvailability {
        std::string deviceNotEligible;
        std::string notEnabled;
        std::string stillDownloading;
        std::string unavailable;
    };

    struct Sidebar {
        std::string library;
    };

    // The Linux desktop's own texts: what the user must do where the system asks nothing.
    struct Desktop {
        std::string keyboardAccessHelp;  // the evdev backend: commands granting the input devices
        std::string keyGrabHelp;         // X11: the key is held by another program
        std::string microphoneHelp;      // no sound settings program to open
    };

    // What "Check for Updates…" found.
    struct Updates {
        std::string fromPackageManager;
        TextText upToDate;      // our version
        TextText newerVersion;  // the newer version
        TextText checkFailed;   // one of the reasons below
        TextText serverUnreachable;  // the transfer's own words
        NumberText serverStatus;     // the HTTP status
        std::string feedMalformed;
        std::string feedEmpty;
        std::string feedTooLarge;
    };

    Transport transport;
    Tabs tabs;
    Transcriptions transcriptions;
    Dictionary dictionary;
    SettingsPanel settings;
    Menu menu;
    HUD hud;
    Errors errors;
    ModelAvailability modelAvailability;
    Sidebar sidebar;
    Desktop desktop;
    Updates updates;

    // The two tables; built once, on first use, and never changed.
    static const Strings& english();
    static const Strings& russian();
    static const Strings& table(AppLanguage::Resolved language);
};

// The Russian word form for a count: `one` (1, 21, 101 …), `few` (2–4, 22–24 …) or `many`
// (0, 5–20, 25–30, 111 …); the sign of n does not matter.
std::string russianPlural(std::int64_t n, std::string_view one, std::string_view few, std::string_view many);

}  // namespace zarn
