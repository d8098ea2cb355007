#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/Doctor.h"

namespace zarn::doctor {
namespace {

// A working X11 session; each case breaks one thing.
struct FakeProbes final : Probes {
    DisplayFacts displayFacts{":1", true, true, ""};
    KeyFacts keyFacts{false, GroupMembership::notMember, false, false};
    AccessibilityFacts accessibilityFacts{true, true, true};
    SoundFacts soundFacts{true, "pulseaudio 16.1", {"Built-in Audio Analog Stereo"}};
    SpeechFacts speechFacts{SpeechEngineChoice::apple, "en-US", {{"en-US", "/m/en-us/en-us.lm.bin"}}, "en-US",
                            "/usr/share/pocketsphinx/model", true, "/d/Zarn/models/m.gguf", 35};
    LanguageModelFacts languageModelFacts{};
    TrayFacts trayFacts{false, true};

    DisplayFacts display() override { return displayFacts; }
    KeyFacts keys() override { return keyFacts; }
    AccessibilityFacts accessibility() override { return accessibilityFacts; }
    SoundFacts sound() override { return soundFacts; }
    SpeechFacts speech() override { return speechFacts; }
    LanguageModelFacts languageModel() override { return languageModelFacts; }
    TrayFacts tray() override { return trayFacts; }
};

void evdevWorks(FakeProbes& p) { p.keyFacts = {true, GroupMembership::active, true, true}; }

TEST(DoctorTest, AWorkingSessionHasNoCrossAndExitsZero) {
    FakeProbes probes;
    const auto diagnosis = diagnose(probes);
    const std::string out = render(diagnosis);
    EXPECT_EQ(out.find("✗"), std::string::npos) << out;
    EXPECT_NE(out.find("✓ Display server: X11 (DISPLAY=:1)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("✓ Microphone: Built-in Audio Analog Stereo\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("Dictation can work in this session.\n")) << out;
    EXPECT_EQ(diagnosis.exitStatus(), 0);
}

TEST(DoctorTest, EachMissingPieceGivesItsCrossItsFixAndTheExitStatus) {
    struct Case {
        const char* what;
        std::function<void(FakeProbes&)> breakIt;
        const char* line;  // the ✗ line expected
        const char* fix;   // part of its fix
        int status;
    };
    const Case cases[] = {
        {"no display", [](auto& p) { p.displayFacts = {}; }, "Display server: none", "graphical desktop session", 1},
        {"dead X display", [](auto& p) { p.displayFacts = {":7", false, false, ""}; },
         "Display server: the X display :7 does not answer", "correct DISPLAY", 1},
        {"Wayland without XWayland still works through evdev and AT-SPI",
         [](auto& p) { p.displayFacts = {"", false, false, "wayland-0"}, evdevWorks(p); },
         "Display server: Wayland without XWayland", "apt install xwayland", 0},
        {"Wayland windows unreachable by a keystroke",
         [](auto& p) { p.displayFacts = {"", false, false, "wayland-0"}, p.accessibilityFacts.enabled = false; },
         "Paste keystroke for Wayland windows: no virtual keyboard and /dev/uinput is not writable",
         "60-zarn-uinput.rules", 1},
        {"not in the input group",
         [](auto& p) { evdevWorks(p), p.keyFacts.inputGroup = GroupMembership::notMember, p.keyFacts.eventDeviceReadable = false; },
         "Input group: you are not a member", "usermod -aG input $USER", 1},
        {"added to the group but not logged in again",
         [](auto& p) { evdevWorks(p), p.keyFacts.inputGroup = GroupMembership::notYetActive, p.keyFacts.eventDeviceReadable = false; },
         "Input group: you were added, but this session started before", "Log out and back in", 1},
        {"keyboards unreadable despite the group", [](auto& p) { evdevWorks(p), p.keyFacts.eventDeviceReadable = false; },
         "/dev/input/event*: none is readable", "ls -l /dev/input", 1},
        {"uinput not writable", [](auto& p) { evdevWorks(p), p.keyFacts.uinputWritable = false; },
         "/dev/uinput: not writable", "60-zarn-uinput.rules", 1},
        {"AT-SPI off, XTest pastes", [](auto& p) { p.accessibilityFacts.enabled = false; },
         "Accessibility bus: running, but org.a11y.Status IsEnabled is false", "IsEnabled '<true>'", 0},
        {"AT-SPI off and no XTest",
         [](auto& p) { p.accessibilityFacts.enabled = false, p.displayFacts.xtest = false; },
         "Paste keystroke: the X server has no XTEST extension", "XTEST", 1},
        {"no session bus", [](auto& p) { p.accessibilityFacts = {}; },
         "Accessibility bus: no D-Bus session bus", "desktop session", 0},
        {"no sound server", [](auto& p) { p.soundFacts = {}; },
         "Sound server: no PulseAudio or PipeWire server answers", "pipewire-pulse", 1},
        {"only monitors", [](auto& p) { p.soundFacts.inputs.clear(); },
         "Microphone: no input source (only monitors of outputs)", "pavucontrol", 1},
        {"no PocketSphinx model", [](auto& p) { p.speechFacts.systemModels.clear(), p.speechFacts.systemModelMatch.clear(); },
         "System speech models (PocketSphinx): none in /usr/share/pocketsphinx/model", "pocketsphinx-en-us", 1},
        {"no model for the user's language",
         [](auto& p) { p.speechFacts.locale = "de-DE", p.speechFacts.systemModelMatch.clear(); },
         "System speech models (PocketSphinx): en-US (/m/en-us/en-us.lm.bin)", "your language (de-DE)", 1},
        {"local engine chosen without its model",
         [](auto& p) { p.speechFacts.chosen = SpeechEngineChoice::nemotron, p.speechFacts.localModelInstalled = false; },
         "Speech engine: Nemotron (streaming) (the local model), chosen in the settings, has no model",
         "or choose the other engine", 1},
        {"local model missing, system engine in use", [](auto& p) { p.speechFacts.localModelInstalled = false; },
         "Local model: not downloaded (35 MB)", "zarn model download", 0},
        {"language-model server down",
         [](auto& p) { p.languageModelFacts = {true, "http://127.0.0.1:9", "", ModelAvailability::unavailable}; },
         "Language-model server: http://127.0.0.1:9 does not answer", "ZARN_LLM_URL", 0},
        {"language-model URL unusable", [](auto& p) { p.languageModelFacts = {true, "", "not http", {}}; },
         "Language-model server: unusable URL (not http)", "ZARN_LLM_URL", 0},
        {"no tray", [](auto& p) { p.trayFacts = {}; }, "Tray: no tray host in this session", "appindicator", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeProbes probes;
        c.breakIt(probes);
        const auto diagnosis = diagnose(probes);
        const std::string out = "\n" + render(diagnosis);
        const auto at = out.find(std::string("\n✗ ") + c.line);
        ASSERT_NE(at, std::string::npos) << out;
        // The line and its fix, up to the next line's mark.
        const auto next = std::min({out.find("\n✓", at + 1), out.find("\n✗", at + 1), out.find("\nDictation", at)});
        const std::string entry = out.substr(at, next - at);
        EXPECT_NE(entry.find("\n    Fix: "), std::string::npos) << entry;
        EXPECT_NE(entry.find(c.fix), std::string::npos) << entry;
        EXPECT_EQ(diagnosis.exitStatus(), c.status) << out;
        EXPECT_EQ(out.ends_with("Dictation can work in this session.\n"), c.status == 0) << out;
    }
}

TEST(DoctorTest, TheVerdictNamesEveryMissingNeed) {
    FakeProbes probes;
    probes.displayFacts = {};
    probes.accessibilityFacts = {};
    probes.soundFacts = {};
    probes.speechFacts.systemModelMatch.clear();
    const std::string out = render(diagnose(probes));
    EXPECT_TRUE(out.ends_with("Dictation cannot work yet: it needs the push-to-talk key, the microphone, a way to "
                              "insert text and a speech engine. Fix the ✗ lines above.\n"))
        << out;
}

}  // namespace
}  // namespace zarn::doctor
