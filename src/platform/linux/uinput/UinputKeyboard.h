#pragma once

#include <functional>
#include <string>

#include "inject/KeySynthesizer.h"
#include "platform/linux/xkbkeys/PasteKeys.h"

namespace zarn::uinput {

// Synthesizes the paste shortcut on a keyboard of our own made through /dev/uinput (the
// evdev backend's permission), which every compositor reads like a real one: the way into
// native Wayland windows where the compositor offers no virtual-keyboard protocol (GNOME).
// The compositor applies its own keymap to the key codes, so `keymap` gives that keymap's
// text and the key that types "v" in it is pressed.
class UinputKeyboard final : public inject::KeySynthesizer {
public:
    // Creates the device; throws MessageError when /dev/uinput cannot be opened or set up.
    explicit UinputKeyboard(std::function<std::string()> keymap, const std::string& device = "/dev/uinput");
    ~UinputKeyboard() override;
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    bool postPaste(bool terminal) override;

private:
    std::function<std::string()> keymap_;
    int fd_ = -1;
};

// Writes the shortcut's key events, each followed by a report, to an evdev event stream.
bool writePaste(int fd, const xkb::PasteKeys& keys, bool terminal);

// The paste keys of a keymap given as XKB text; nullopt when it does not compile.
std::optional<xkb::PasteKeys> pasteKeysOfText(const std::string& keymapText);

}  // namespace zarn::uinput
