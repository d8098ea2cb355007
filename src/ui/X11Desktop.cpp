#include "ui/X11Desktop.h"

#include <QGuiApplication>

#include <string>

// After Qt: Xlib's macros (None, Bool, Status …) would clash with Qt's names.
#include <X11/Xlib.h>

#include "platform/linux/x11/X11Errors.h"

namespace zarn::ui::x11desktop {

namespace {

Display* display() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

}  // namespace

bool compositorRuns() {
    Display* dpy = display();
    if (!dpy) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(dpy));
    return XGetSelectionOwner(dpy, XInternAtom(dpy, name.c_str(), False)) != 0;
}

std::optional<QPoint> focusedWindowCentre() {
    Display* dpy = display();
    if (!dpy) return std::nullopt;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    if (focus == 0 || focus == PointerRoot) return std::nullopt;
    // The window may go away meanwhile: its error must not end the program.
    x11::ErrorTrap trap(dpy);
    XWindowAttributes attributes{};
    Window child = 0;
    int x = 0, y = 0;
    const bool found = XGetWindowAttributes(dpy, focus, &attributes) &&
                       XTranslateCoordinates(dpy, focus, DefaultRootWindow(dpy), attributes.width / 2,
                                             attributes.height / 2, &x, &y, &child);
    if (!found || attributes.map_state != IsViewable) return std::nullopt;
    return QPoint(x, y);
}

}  // namespace zarn::ui::x11desktop
