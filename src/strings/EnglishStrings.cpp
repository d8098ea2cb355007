#include "strings/Strings.h"

namespace zarn {

const Strings& Strings::english() {
    static const Strings table{
        .transport = {
            .record = "Record",
            .stop = "Stop",
        },
        .tabs = {
            .transcriptions = "Transcriptions",
            .dictionary = "Dictionary",
        },
        .transcriptions = {
            .searchPlaceholder = "Search transcriptions",
            .emptyTitle = "No recordings",
            .emptyDetail = "Press Record to start.",
            .noMatchesTitle = "No matches",
            .noMatchesDetail = "Try a different search.",
            .recordingCount = [](std::int64_t n) {
                return std::to_string(n) + " recording" + (n == 1 ? "" : "s");
            },
            .deleteAll = "Delete all",
            .deleteAllConfirm = [](std::int64_t n) {
                return "Delete all " + std::to_string(n) + " recordings?";
            },
            .deleteAllButton = "Delete All",
            .cancel = "Cancel",
            .cannotBeUndone = "This can't be undone.",
            .copy = "Copy",
            .copied = "Copied",
            .deleteThis = "Delete this transcription",
            .corrected = "Corrected",
        },
        .dictionary = {
            .searchPlaceholder = "Search dictionary",
            .emptyTitle = "Dictionary empty",
            .emptyDetail = "Add words it keeps getting wrong.",
            .noMatchesTitle = "No matches",
            .noMatchesDetail = "Try a different search.",
            .add = "Add",
            .entryCount = [](std::int64_t n) { return std::to_string(n) + " entries"; },
            .revealFile = "Reveal dictionary.txt",
            .kindFix = "Fix",
            .kindTerm = "Term",
            .kindCorrection = "Correction",
            .edit = "Edit",
            .turnOff = "Off",
            .turnOn = "On",
            .delete_ = "Delete",
            .newEntry = "New entry",
            .editEntry = "Edit entry",
            .whenYouHear = "When you hear",
            .write = "Write",
            .wordOrPhrase = "Word or phrase",
            .cancel = "Cancel",
            .save = "Save",
        },
        .settings = {
            .pushToTalk = "Push to talk",
            .pushToTalkNote = "Hold this key anywhere to dictate. "
                              "The window's Record button works regardless of what's focused.",
            .model = "Model",
            .appleNote = "Apple's on-device transcriber. "
                         "Streams while you speak, but needs Apple Silicon.",
            .nemotronNote = [](std::int64_t megabytes) {
                return "Nemotron 3.5 on ggml. Streams while you speak; " + std::to_string(megabytes) +
                       " MB model, CPU or Metal.";
            },
            .cleanup = "Cleanup",
            .cleanupToggle = "Clean up transcripts",
            .cleanupNote = "Strips fillers, fixes spacing and punctuation. "
                           "The dictionary's corrections run either way.",
            .language = "Language",
            .languageNote = "Auto follows the system language. "
                            "System permission prompts always follow the system language — "
                            "macOS draws those, not the app.",
            .appleUnavailable = "Not available on this Mac. "
                                "Apple's transcriber needs Apple Silicon; "
                                "on an Intel Mac it reports no supported languages at all. "
                                "Use Nemotron instead — it runs here.",
            .title = "Zarn Settings",
            .startAtLogin = "Start at login",
            .startAtLoginToggle = "Start Zarn when you log in",
            .startAtLoginNote = "Zarn waits in the tray, without opening a window.",
        },
        .menu = {
            .holdToDictate = [](const std::string& key) { return "Hold " + key + " to dictate"; },
            .pushToTalkKey = "Push-to-talk key",
            .engine = "Engine",
            .cleanUpText = "Clean up text",
            .smartCleanup = "Smart cleanup (on-device AI)",
            .sound = "Sound",
            .revealDictionary = "Reveal Dictionary File",
            .openWindow = "Open Zarn",
            .settings = "Settings…",
            .grantAccessibility = "Grant Accessibility…",
            .grantMicrophone = "Grant Microphone…",
            .quit = "Quit Zarn",
            .checkForUpdates = "Check for Updates…",
            .downloadModel = [](std::int64_t megabytes) {
                return "Download Nemotron model… (" + std::to_string(megabytes) + " MB)";
            },
            .modelInstalled = "Nemotron model installed ✓",
            .downloadingModel = [](std::int64_t percent) {
                return "Downloading model… " + std::to_string(percent) + "%";
            },
        },
        .hud = {
            .listening = "Listening…",
            .transcribing = "Transcribing…",
        },
        .errors = {
            .localeUnsupported = [](const std::string& locale) {
                return "Dictation isn't available for " + locale + " on this Mac.";
            },
            .modelInstallFailed = [](const std::string& cause) {
                return "Couldn't install the speech model: " + cause;
            },
            .noAudioFormat = "No compatible audio format available for the speech engine.",
            .notRunning = "The transcription engine isn't running.",
            .microphoneOff = "Microphone access is off. "
                             "Enable it in System Settings ▸ Privacy & Security ▸ Microphone.",
            .modelNotDownloaded = "The Nemotron model isn't downloaded yet — "
                                  "use “Download Nemotron model…” in the menu.",
        },
        .modelAvailability = {
            .deviceNotEligible = "This Mac doesn't support Apple Intelligence.",
            .notEnabled = "Apple Intelligence is turned off in System Settings.",
            .stillDownloading = "The on-device model is still downloading.",
            .unavailable = "The on-device model is unavailable.",
        },
        .sidebar = {
            .library = "Library",
        },
        .desktop = {
            .keyboardAccessHelp =
                "Zarn reads the push-to-talk key from the keyboards under /dev/input and types through "
                "/dev/uinput. Allow your user to use them, then log out and back in:\n\n"
                "sudo usermod -aG input $USER\n"
                "echo 'KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\", OPTIONS+=\"static_node=uinput\"' | "
                "sudo tee /etc/udev/rules.d/60-zarn-uinput.rules\n"
                "sudo udevadm control --reload-rules && sudo udevadm trigger"
                "\n\nRun zarn doctor in a terminal to see what else this session lacks.",
            .keyGrabHelp = "Zarn could not take the push-to-talk key from the X server. Another program may be "
                           "holding it: close that program or choose another key in the menu."
                           "\n\nRun zarn doctor in a terminal to see what else this session lacks.",
            .microphoneHelp = "No sound settings program was found. Install one to choose and unmute your "
                              "microphone, for example: sudo apt install pavucontrol"
                              "\n\nRun zarn doctor in a terminal to see what else this session lacks.",
        },
        .updates = {
            .fromPackageManager = "Zarn is updated by your package manager. Use it to get newer versions.",
            .upToDate = [](const std::string& version) {
                return "Zarn " + version + " is up to date.";
            },
            .newerVersion = [](const std::string& version) {
                return "Zarn " + version + " is available.";
            },
            .checkFailed = [](const std::string& reason) {
                return "Couldn't check for updates: " + reason + ".";
            },
            .serverUnreachable = [](const std::string& cause) {
                return "the update server can't be reached (" + cause + ")";
            },
            .serverStatus = [](std::int64_t status) {
                return "the update server answered with HTTP status " + std::to_string(status);
            },
            .feedMalformed = "the update feed isn't a valid RSS document",
            .feedEmpty = "the update feed lists no versions",
            .feedTooLarge = "the update feed is larger than 1 MiB",
        },
    };
    return table;
}

}  // namespace zarn
