#pragma once

#include <optional>
#include <string>

namespace zarn {

// What the system allows Zarn to do, and where the user goes to allow more. On Linux,
// "accessibility" is the right to watch the push-to-talk key (an X11 grab, or reading the
// keyboards under /dev/input and writing /dev/uinput) and "microphone" a sound server with
// an input source.
class Permissions {
public:
    virtual ~Permissions() = default;
    virtual bool hasAccessibility() = 0;
    virtual bool hasMicrophone() = 0;
    // Asks the desktop to turn on what it can (the accessibility bus); true when the key
    // can be watched now.
    virtual bool promptForAccessibility() = 0;
    // Help the user needs to read before the key can work, once per launch at most (the
    // commands that grant access to the input devices); nothing when none is needed.
    virtual std::optional<std::string> accessibilityHelp() = 0;
    // Each opens the desktop's settings for the matter when it can; otherwise it answers
    // the text to show the user instead.
    virtual std::optional<std::string> openAccessibilitySettings() = 0;
    virtual std::optional<std::string> openMicrophoneSettings() = 0;
};

// The floating display that follows a dictation.
class HudPresenter {
public:
    virtual ~HudPresenter() = default;
    virtual void present() = 0;
    virtual void dismiss() = 0;
};

}  // namespace zarn
