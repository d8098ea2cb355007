#include <gtest/gtest.h>

#include "platform/linux/session/XvfbServer.h"
#include "platform/linux/x11/X11Errors.h"

// After gtest: Xlib's macros (None, Bool …) clash with its names.
#include <X11/Xlib.h>

namespace zarn::x11 {
namespace {

int othersErrors = 0;

// A request that always fails: there is no window 1.
void failingRequest(Display* display) { XMapWindow(display, 1); }

// One process, three kinds of connection: a trap's, an adopted one's and somebody else's.
// Each error must land where it belongs, none may end the process, and the handler that was
// there first keeps the errors of connections that are not ours.
TEST(X11Errors, OneHandlerServesTrapsAdoptedConnectionsAndOthers) {
    test::XvfbServer server;
    ASSERT_TRUE(server.isRunning()) << server.failure();
    XSetErrorHandler([](Display*, XErrorEvent*) {
        ++othersErrors;
        return 0;
    });
    Display* ours = XOpenDisplay(server.display().c_str());
    Display* other = XOpenDisplay(server.display().c_str());
    ASSERT_TRUE(ours && other);
    adoptConnection(ours);
    {
        ErrorTrap trap(other);
        failingRequest(other);
        {
            ErrorTrap inner(other);
            EXPECT_EQ(inner.sync(), 0) << "an outer trap's error is not the inner one's";
            failingRequest(other);
            EXPECT_EQ(inner.sync(), BadWindow);
        }
        EXPECT_EQ(trap.sync(), BadWindow);
    }
    failingRequest(ours);
    XSync(ours, False);
    EXPECT_EQ(othersErrors, 0);
    failingRequest(other);
    XSync(other, False);
    EXPECT_EQ(othersErrors, 1);
    releaseConnection(ours);
    XCloseDisplay(ours);
    XCloseDisplay(other);
}

}  // namespace
}  // namespace zarn::x11
