#include "app/Doctor.h"

namespace zarn::doctor {
namespace {

constexpr char kEnableAccessibility[] =
    "zarn-app turns it on when it starts; or run: gdbus call --session --dest org.a11y.Bus --object-path "
    "/org/a11y/bus --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<true>'";
constexpr char kUdevRule[] =
    "Allow the input group to write it, then log out and back in:\n"
    "echo 'KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\", OPTIONS+=\"static_node=uinput\"' | "
    "sudo tee /etc/udev/rules.d/60-zarn-uinput.rules\n"
    "sudo udevadm control --reload-rules && sudo udevadm trigger";

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : separator) + item;
    return out;
}

class Examination {
public:
    void add(bool ok, std::string text, std::string fix = {}) {
        diagnosis.checks.push_back({ok, std::move(text), ok ? std::string() : std::move(fix)});
    }

    void display(const DisplayFacts& d) {
        const bool x11 = !d.x11Display.empty() && d.x11Answers;
        if (x11 && !d.waylandDisplay.empty()) {
            add(true, "Display server: Wayland with XWayland (DISPLAY=" + d.x11Display + ")");
        } else if (x11) {
            add(true, "Display server: X11 (DISPLAY=" + d.x11Display + ")");
        } else if (!d.x11Display.empty()) {
            add(false, "Display server: the X display " + d.x11Display + " does not answer",
                "Run zarn inside your desktop session, or correct DISPLAY.");
        } else if (!d.waylandDisplay.empty()) {
            add(false, "Display server: Wayland without XWayland",
                "Install XWayland (sudo apt install xwayland) and log in again: the HUD keeps its place and the "
                "paste keystroke reaches X11 applications through it.");
        } else {
            add(false, "Display server: none (DISPLAY and WAYLAND_DISPLAY are unset)",
                "Run zarn inside a graphical desktop session.");
        }
    }

    void keys(const KeyFacts& k, const DisplayFacts& d) {
        if (!k.evdev) {
            diagnosis.needs.hotkey = d.x11Answers;
            add(d.x11Answers, "Push-to-talk key: X11 backend",
                "No X display answers: run inside the X11 session, or set ZARN_HOTKEY_BACKEND=evdev to read the "
                "keyboards under /dev/input.");
            return;
        }
        // The application arms the key only when both hold (its key permission).
        diagnosis.needs.hotkey = k.eventDeviceReadable && k.uinputWritable;
        add(diagnosis.needs.hotkey, "Push-to-talk key: evdev backend (the keyboards under /dev/input)",
            "Give this user the input devices as the lines below say.");
        switch (k.inputGroup) {
            case GroupMembership::active:
                add(true, "Input group: this session's user is a member");
                break;
            case GroupMembership::notYetActive:
                add(false, "Input group: you were added, but this session started before", "Log out and back in.");
                break;
            case GroupMembership::notMember:
                add(false, "Input group: you are not a member",
                    "sudo usermod -aG input $USER, then log out and back in.");
                break;
            case GroupMembership::noGroup:
                add(false, "Input group: this system has none",
                    "sudo groupadd --system input && sudo usermod -aG input $USER, then log out and back in.");
                break;
        }
        add(k.eventDeviceReadable, std::string("/dev/input/event*: ") + (k.eventDeviceReadable ? "readable" : "none is readable"),
            k.inputGroup == GroupMembership::active
                ? "The keyboards should belong to the input group with mode 0660: check with ls -l /dev/input."
                : "Join the input group (see above).");
        add(k.uinputWritable, std::string("/dev/uinput: ") + (k.uinputWritable ? "writable" : "not writable"), kUdevRule);
    }

    void insertion(const AccessibilityFacts& a, const DisplayFacts& d, const KeyFacts& k) {
        const bool atspi = a.busReachable && a.enabled;
        if (atspi) {
            add(true, "Accessibility bus: on (text fields answer over AT-SPI)");
        } else if (a.busReachable) {
            add(false, "Accessibility bus: running, but org.a11y.Status IsEnabled is false", kEnableAccessibility);
        } else if (!a.sessionBus) {
            add(false, "Accessibility bus: no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is unset)",
                "Run zarn inside your desktop session.");
        } else {
            add(false, "Accessibility bus: not reachable on the session bus",
                "sudo apt install at-spi2-core, then log out and back in.");
        }
        if (d.xtest) {
            add(true, "Paste keystroke: XTest on display " + d.x11Display);
        } else if (d.x11Answers) {
            add(false, "Paste keystroke: the X server has no XTEST extension",
                "Enable XTEST in the X server's configuration (Xorg has it by default).");
        } else {
            add(false, "Paste keystroke: no X display for XTest",
                "Use an X11 session or install XWayland (sudo apt install xwayland); until then text goes in only "
                "through the accessibility bus.");
        }
        // Native Wayland windows take the keystroke only from the compositor or the kernel.
        bool waylandPaste = false;
        if (!d.waylandDisplay.empty()) {
            waylandPaste = d.virtualKeyboard || k.uinputWritable;
            if (d.virtualKeyboard) {
                add(true, "Paste keystroke for Wayland windows: the compositor's virtual keyboard");
            } else if (k.uinputWritable) {
                add(true, "Paste keystroke for Wayland windows: a uinput keyboard");
            } else {
                add(false, "Paste keystroke for Wayland windows: no virtual keyboard and /dev/uinput is not writable",
                    kUdevRule);
            }
        }
        diagnosis.needs.insertion = atspi || d.xtest || waylandPaste;
    }

    void sound(const SoundFacts& s) {
        if (!s.answers) {
            add(false, "Sound server: no PulseAudio or PipeWire server answers",
                "Start one: systemctl --user start pipewire-pulse (PipeWire), or pulseaudio --start.");
            return;
        }
        add(true, "Sound server: " + s.server);
        diagnosis.needs.microphone = !s.inputs.empty();
        add(diagnosis.needs.microphone,
            s.inputs.empty() ? "Microphone: no input source (only monitors of outputs)"
                             : "Microphone: " + joined(s.inputs, ", "),
            "Connect a microphone, or enable it in the sound settings (pavucontrol: sudo apt install pavucontrol).");
    }

    void speech(const SpeechFacts& s) {
        std::vector<std::string> models;
        for (const auto& model : s.systemModels) models.push_back(model.locale + " (" + model.languageModel + ")");
        const bool system = !s.systemModelMatch.empty();
        if (s.systemModels.empty()) {
            add(false, "System speech models (PocketSphinx): none in " + s.searchedFolders,
                "sudo apt install pocketsphinx-en-us");
        } else {
            add(system, "System speech models (PocketSphinx): " + joined(models, "; "),
                "None is for your language (" + s.locale +
                    "): put a PocketSphinx model for it in a folder named after it under " + s.searchedFolders + ".");
        }
        const bool local = s.chosen == SpeechEngineChoice::nemotron;
        add(s.localModelInstalled,
            s.localModelInstalled ? "Local model: installed (" + s.localModelPath + ")"
                                  : "Local model: not downloaded (" + std::to_string(s.localModelMegabytes) + " MB)",
            local ? "Run: zarn model download" : "Only the local engine needs it; run: zarn model download");
        diagnosis.needs.engine = local ? s.localModelInstalled : system;
        const bool otherWorks = local ? system : s.localModelInstalled;
        add(diagnosis.needs.engine,
            "Speech engine: " + std::string(speechEngineChoice::displayName(s.chosen)) + " (" +
                (local ? "the local model" : "the system's PocketSphinx") + ")" +
                (diagnosis.needs.engine ? "" : ", chosen in the settings, has no model"),
            std::string(local ? "Download the local model (above)" : "Install a system speech model (above)") +
                (otherWorks ? ", or choose the other engine in the settings." : "."));
    }

    void languageModel(const LanguageModelFacts& l) {
        if (!l.configured) {
            add(true, "Language-model server: none configured (smart cleanup uses the rules; set ZARN_LLM_URL for one)");
        } else if (!l.error.empty()) {
            add(false, "Language-model server: unusable URL (" + l.error + ")",
                "Correct ZARN_LLM_URL, or the server's URL in the settings.");
        } else if (l.availability == ModelAvailability::available) {
            add(true, "Language-model server: " + l.origin + " answers");
        } else if (l.availability == ModelAvailability::stillDownloading) {
            add(false, "Language-model server: " + l.origin + " is still loading its model", "Wait until it has loaded.");
        } else {
            add(false, "Language-model server: " + l.origin + " does not answer",
                "Start the server, or correct ZARN_LLM_URL (or the server's URL in the settings).");
        }
    }

    void tray(const TrayFacts& t) {
        if (t.statusNotifierWatcher) {
            add(true, "Tray: a StatusNotifierItem host (org.kde.StatusNotifierWatcher)");
        } else if (t.xembedTray) {
            add(true, "Tray: the X11 system tray (_NET_SYSTEM_TRAY_S0)");
        } else {
            add(false, "Tray: no tray host in this session",
                "On GNOME: sudo apt install gnome-shell-extension-appindicator, enable it and log in again. Without "
                "a tray, open Zarn from the applications menu.");
        }
    }

    Diagnosis diagnosis;
};

}  // namespace

Diagnosis diagnose(Probes& probes) {
    Examination exam;
    const DisplayFacts display = probes.display();
    exam.display(display);
    const KeyFacts keys = probes.keys();
    exam.keys(keys, display);
    exam.insertion(probes.accessibility(), display, keys);
    exam.sound(probes.sound());
    exam.speech(probes.speech());
    exam.languageModel(probes.languageModel());
    exam.tray(probes.tray());
    return std::move(exam.diagnosis);
}

std::string render(const Diagnosis& diagnosis) {
    std::string out;
    for (const auto& check : diagnosis.checks) {
        out += (check.ok ? "✓ " : "✗ ") + check.text + "\n";
        if (check.ok) continue;
        std::string fix = check.fix;
        for (std::size_t at = fix.find('\n'); at != std::string::npos; at = fix.find('\n', at + 7)) {
            fix.replace(at, 1, "\n      ");
        }
        out += "    Fix: " + fix + "\n";
    }
    const Needs& n = diagnosis.needs;
    if (n.all()) return out + "Dictation can work in this session.\n";
    std::vector<std::string> missing;
    if (!n.hotkey) missing.push_back("the push-to-talk key");
    if (!n.microphone) missing.push_back("the microphone");
    if (!n.insertion) missing.push_back("a way to insert text");
    if (!n.engine) missing.push_back("a speech engine");
    std::string needs = missing.back();
    if (missing.size() > 1) {
        missing.pop_back();
        needs = joined(missing, ", ") + " and " + needs;
    }
    return out + "Dictation cannot work yet: it needs " + needs + ". Fix the ✗ lines above.\n";
}

}  // namespace zarn::doctor
