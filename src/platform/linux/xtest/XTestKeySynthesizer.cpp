#include "platform/linux/xtest/XTestKeySynthesizer.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <string_view>

#include "base/Error.h"
#include "platform/linux/x11/X11Errors.h"

namespace zarn::x11 {

namespace {

// The key whose first level is "v" in any group of the server's keymap, else the key at
// QWERTY's V position (a layout without Latin letters: toolkits look for shortcuts there).
KeyCode pasteKeyV(Display* display) {
    XkbDescPtr keyboard = XkbGetMap(display, XkbKeySymsMask, XkbUseCoreKbd);
    KeyCode found = 0;
    if (keyboard) {
        for (int group = 0; group < XkbNumKbdGroups && found == 0; ++group) {
            for (int key = keyboard->min_key_code; key <= keyboard->max_key_code && found == 0; ++key) {
                if (group < XkbKeyNumGroups(keyboard, key) && XkbKeySymEntry(keyboard, key, 0, group) == XK_v) {
                    found = static_cast<KeyCode>(key);
                }
            }
        }
        XkbFreeKeyboard(keyboard, 0, True);
    }
    if (found != 0) return found;
    XkbDescPtr named = XkbGetKeyboard(display, XkbKeyNamesMask, XkbUseCoreKbd);
    if (!named) return 0;
    for (int key = named->min_key_code; named->names && key <= named->max_key_code && found == 0; ++key) {
        if (std::string_view(named->names->keys[key].name, XkbKeyNameLength).substr(0, 4) == "AB04") {
            found = static_cast<KeyCode>(key);
        }
    }
    XkbFreeKeyboard(named, 0, True);
    return found;
}

}  // namespace

XTestKeySynthesizer::XTestKeySynthesizer(const std::string& displayName) {
    // The focused window may go away while we read its class: that error must not end the program.
    display_ = openConnection(displayName);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        closeConnection(display_);
        throw MessageError("the X server has no XTest extension");
    }
}

XTestKeySynthesizer::~XTestKeySynthesizer() {
    if (display_) closeConnection(display_);
}

bool XTestKeySynthesizer::x11WindowFocused() {
    Window window = None;
    int revert = 0;
    XGetInputFocus(display_, &window, &revert);
    // XWayland starts with the focus on the pointer's root and comes back to nothing.
    return window != None && window != PointerRoot && window != DefaultRootWindow(display_);
}

std::pair<std::string, std::string> XTestKeySynthesizer::focusedWindowClass() {
    Window root = DefaultRootWindow(display_);
    Window window = None;
    // A window manager names the active window; without one the input focus is the answer.
    Atom active = XInternAtom(display_, "_NET_ACTIVE_WINDOW", True);
    if (active != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, root, active, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) ==
                Success &&
            data) {
            if (count == 1 && format == 32) window = static_cast<Window>(*reinterpret_cast<long*>(data));
            XFree(data);
        }
    }
    if (window == None) {
        int revert = 0;
        XGetInputFocus(display_, &window, &revert);
    }
    // The focus may sit on a child of the top-level window that carries WM_CLASS.
    while (window != None && window != PointerRoot && window != root) {
        XClassHint hint{};
        if (XGetClassHint(display_, window, &hint)) {
            std::pair<std::string, std::string> result{hint.res_name ? hint.res_name : "",
                                                       hint.res_class ? hint.res_class : ""};
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            return result;
        }
        Window parent = None, rootReturn = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display_, window, &rootReturn, &parent, &children, &count)) break;
        if (children) XFree(children);
        window = parent;
    }
    return {};
}

bool XTestKeySynthesizer::postPaste(bool terminal) {
    auto [instance, windowClass] = focusedWindowClass();
    terminal = terminal || inject::isTerminalName(instance) || inject::isTerminalName(windowClass);
    KeyCode control = XKeysymToKeycode(display_, XK_Control_L);
    KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
    KeyCode v = pasteKeyV(display_);
    if (control == 0 || v == 0 || (terminal && shift == 0)) return false;
    XTestFakeKeyEvent(display_, control, True, CurrentTime);
    if (terminal) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
    XTestFakeKeyEvent(display_, v, True, CurrentTime);
    XTestFakeKeyEvent(display_, v, False, CurrentTime);
    if (terminal) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
    XTestFakeKeyEvent(display_, control, False, CurrentTime);
    XSync(display_, False);
    return true;
}

}  // namespace zarn::x11
