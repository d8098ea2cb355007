#pragma once

#include <memory>
#include <string>

#include "inject/KeySynthesizer.h"

namespace zarn::wl {

// Synthesizes the paste shortcut through the compositor's virtual-keyboard protocol
// (zwp_virtual_keyboard_v1: sway, KDE), which reaches native Wayland windows and XWayland's
// alike. The keyboard carries the seat's own keymap, so applications that remember the
// keymaps they have seen read the same keys as from the real keyboard, and the key pressed
// is the one that types "v" in it.
class VirtualKeyboard final : public inject::KeySynthesizer {
public:
    // Connects to $WAYLAND_DISPLAY; throws MessageError when there is no Wayland display or
    // the compositor offers no virtual keyboard.
    VirtualKeyboard();
    ~VirtualKeyboard() override;
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    bool postPaste(bool terminal) override;

    struct Connection;

private:
    std::unique_ptr<Connection> connection_;
};

// The keymap the compositor gives its clients for the seat's active keyboard, as XKB text;
// empty when there is no Wayland display or no keyboard.
std::string seatKeymap();

// Whether $WAYLAND_DISPLAY's compositor offers a virtual keyboard (without making one).
bool virtualKeyboardOffered();

}  // namespace zarn::wl
