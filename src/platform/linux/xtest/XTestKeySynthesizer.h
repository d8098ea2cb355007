#pragma once

#include <string>
#include <string_view>

#include "inject/KeySynthesizer.h"

struct _XDisplay;

namespace zarn::x11 {

// Synthesizes the paste shortcut with the XTest extension: Ctrl+V, or Ctrl+Shift+V when the
// focused window belongs to a terminal emulator, which reads Ctrl+V as a control character.
class XTestKeySynthesizer final : public inject::KeySynthesizer {
public:
    // Opens its own connection ("" means $DISPLAY); throws MessageError when it cannot or
    // when the server lacks XTest.
    explicit XTestKeySynthesizer(const std::string& displayName = {});
    ~XTestKeySynthesizer() override;
    XTestKeySynthesizer(const XTestKeySynthesizer&) = delete;
    XTestKeySynthesizer& operator=(const XTestKeySynthesizer&) = delete;

    bool postPaste() override;

    // The WM_CLASS instance and class of the focused top-level window ("" when unknown).
    std::pair<std::string, std::string> focusedWindowClass();
    // Whether a WM_CLASS instance or class names a terminal emulator.
    static bool isTerminal(std::string_view wmClass);

private:
    _XDisplay* display_ = nullptr;
};

}  // namespace zarn::x11
