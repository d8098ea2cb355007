#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cleanup/SystemLanguageModel.h"
#include "contracts/Speech.h"

// `zarn doctor`: what works in this session for a dictation, and what to do about what does
// not. The facts come from probes (the system's in the command, fakes in tests); the
// verdicts, the fixes and the exit status are decided here.
namespace zarn::doctor {

struct DisplayFacts {
    std::string x11Display;      // DISPLAY; empty when unset
    bool x11Answers = false;     // the X server accepted a connection
    bool xtest = false;          // ... and offers the XTEST extension (the paste keystroke)
    std::string waylandDisplay;  // WAYLAND_DISPLAY, or "wayland" from XDG_SESSION_TYPE; empty on X11
    bool virtualKeyboard = false;  // the compositor offers the virtual-keyboard protocol (sway, KDE)
};

// Whether this session's user belongs to the input group.
enum class GroupMembership { noGroup, notMember, notYetActive, active };

struct KeyFacts {
    bool evdev = false;  // the backend in use: evdev, else X11
    GroupMembership inputGroup = GroupMembership::noGroup;
    bool eventDeviceReadable = false;  // some /dev/input/event* opens for reading
    bool uinputWritable = false;
};

struct AccessibilityFacts {
    bool sessionBus = false;    // a D-Bus session bus answers
    bool busReachable = false;  // org.a11y.Bus answers on the session bus
    bool enabled = false;       // org.a11y.Status IsEnabled
};

struct SoundFacts {
    bool answers = false;      // a PulseAudio (or PipeWire-Pulse) server answered
    std::string server;        // its name and version, e.g. "PulseAudio (on PipeWire 0.3.65)"
    std::vector<std::string> inputs;  // descriptions of the sources that are not monitors
};

struct SpeechModelFact {
    std::string locale;         // e.g. "en-US"
    std::string languageModel;  // the language model file the system engine loads
};

struct SpeechFacts {
    SpeechEngineChoice chosen = SpeechEngineChoice::apple;
    std::string locale;                       // the user's locale
    std::vector<SpeechModelFact> systemModels;
    std::string systemModelMatch;             // the locale the system engine would use; empty: none
    std::string searchedFolders;              // where the system models were looked for
    bool localModelInstalled = false;
    std::string localModelPath;
    std::int64_t localModelMegabytes = 0;
};

struct LanguageModelFacts {
    bool configured = false;
    std::string origin;  // the configured server (scheme://host:port)
    std::string error;   // why the configured URL is unusable; empty when usable
    ModelAvailability availability = ModelAvailability::notEnabled;
};

struct TrayFacts {
    bool statusNotifierWatcher = false;  // org.kde.StatusNotifierWatcher on the session bus
    bool xembedTray = false;             // an owner of _NET_SYSTEM_TRAY_S0
};

// Each probe looks once when called; the doctor calls each once.
class Probes {
public:
    virtual ~Probes() = default;
    virtual DisplayFacts display() = 0;
    virtual KeyFacts keys() = 0;
    virtual AccessibilityFacts accessibility() = 0;
    virtual SoundFacts sound() = 0;
    virtual SpeechFacts speech() = 0;
    virtual LanguageModelFacts languageModel() = 0;
    virtual TrayFacts tray() = 0;
};

// One line of the report: what was found and, when it is wrong, how to fix it.
struct Check {
    bool ok = false;
    std::string text;
    std::string fix;  // empty when ok
};

// What a dictation needs; each is true when some path for it works.
struct Needs {
    bool hotkey = false;
    bool microphone = false;
    bool insertion = false;
    bool engine = false;
    bool all() const { return hotkey && microphone && insertion && engine; }
};

struct Diagnosis {
    std::vector<Check> checks;
    Needs needs;
    int exitStatus() const { return needs.all() ? 0 : 1; }
};

Diagnosis diagnose(Probes& probes);
// The lines shown to the user: "✓ text", or "✗ text" followed by an indented fix, then a
// closing verdict.
std::string render(const Diagnosis& diagnosis);

}  // namespace zarn::doctor
