#pragma once

#include <string>
#include <string_view>

#include "inject/KeySynthesizer.h"

struct _XDisplay;

namespace zarn::x11 {

// Synthesizes the paste shortcut with the XTest extension: Ctrl+V, or Ctrl+Shift+V when the
// focused window belongs to a terminal emulator (by its WM_CLASS, or as the caller says), which
// reads Ctrl+V as a control character. Only X11 windows (XWayland's too) receive these events.
class XTestKeySynthesizer final : public inject::KeySynthesizer {
public:
    // Opens its own connection ("" means $DISPLAY); throws MessageError when it cannot or
    // when the server lacks XTest.
    explicit XTestKeySynthesizer(const std::string& displayName = {});
    ~XTestKeySynthesizer() override;
    XTestKeySynthesizer(const XTestKeySynthesizer&) = delete;
    XTestKeySynthesizer& operator=(const XTestKeySynthesizer&) = delete;

    bool postPaste(bool terminal) override;

    // Whether an X11 window has the input focus: under XWayland none has while a native
    // Wayland window is focused.
    bool x11WindowFocused();
    // The WM_CLASS instance and class of the focused top-level window ("" when unknown).
    std::pair<std::string, std::string> focusedWindowClass();

private:
    _XDisplay* display_ = nullptr;
};

}  // namespace zarn::x11
