#pragma once

namespace zarn::inject {

// Synthesizes the paste shortcut of whatever window has the focus.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;
    // Posts key-down and key-up of the shortcut; false when the events cannot be made.
    virtual bool postPaste() = 0;
};

}  // namespace zarn::inject
