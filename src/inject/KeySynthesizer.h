#pragma once

#include <string_view>

namespace zarn::inject {

// Synthesizes the paste shortcut of whatever window has the focus.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;
    // Posts key-down and key-up of Ctrl+V, or of Ctrl+Shift+V when `terminal` (the focused
    // element said so) or when the synthesizer finds a terminal focused by its own means.
    // False when the events cannot be made.
    virtual bool postPaste(bool terminal) = 0;
};

// Whether an X11 window class or an application's name names a terminal emulator.
bool isTerminalName(std::string_view name);

}  // namespace zarn::inject
