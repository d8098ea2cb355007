#include <gtest/gtest.h>

#include <QApplication>

#include "app/AppFixture.h"
#include "app/Application.h"
#include "platform/linux/session/DesktopSession.h"
#include "dictation/FakeDictation.h"
#include "ui/Hud.h"

// After Qt: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace zarn::ui {
namespace {

using namespace std::chrono_literals;

// Another application's window under the capsule, holding the keyboard focus.
class UsersWindow {
public:
    UsersWindow() : display_(XOpenDisplay(nullptr)) {
        const int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, DisplayWidth(display_, screen),
                                      DisplayHeight(display_, screen), 0, 0, WhitePixel(display_, screen));
        XSelectInput(display_, window_, ButtonPressMask);
        XMapWindow(display_, window_);
        XSync(display_, False);
        test::waitUntil([this] { return mapState(window_) == IsViewable; }, 10s);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    ~UsersWindow() { XCloseDisplay(display_); }

    int mapState(unsigned long window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) ? attributes.map_state : -1;
    }
    bool hasFocus() {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        return focus == window_;
    }
    void clickAt(QPoint point) {
        XTestFakeMotionEvent(display_, -1, point.x(), point.y(), CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XSync(display_, False);
    }
    bool received(QPoint point) {
        XEvent event;
        while (XCheckWindowEvent(display_, window_, ButtonPressMask, &event)) {
            if (event.xbutton.x == point.x() && event.xbutton.y == point.y()) return true;
        }
        return false;
    }

private:
    Display* display_;
    Window window_ = 0;
};

TEST(HudE2E, ShowsDuringTheDictationWithoutTakingFocusOrClicks) {
    if (auto missing = test::DesktopSession::missingTool(false); !missing.empty()) GTEST_SKIP() << missing;
    test::DesktopSession session(false);
    int argc = 1;
    char name[] = "ui_hud_e2e_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    UsersWindow users;
    ASSERT_TRUE(users.hasFocus());

    test::FakeDictation dictation;
    test::FakePermissions permissions;
    HUDPanel hud(*dictation.controller, dictation.settings, dictation.executor, dictation.executor);
    Application application({.main = dictation.executor, .settings = dictation.settings,
                             .controller = *dictation.controller, .permissions = permissions});
    application.launch(hud);
    auto settle = [&](int state) {
        return test::waitUntil(
            [&] {
                dictation.executor.advanceBy(HudFade::fadeTime);
                QApplication::processEvents();
                return users.mapState(hud.winId()) == state;
            },
            10s);
    };

    dictation.listen();
    ASSERT_TRUE(settle(IsViewable));
    EXPECT_TRUE(users.hasFocus());
    const QPoint centre = hud.geometry().center();
    EXPECT_EQ(hud.geometry(), QRect(342, 768 - 96 - 76, 340, 76));  // centred above the bottom
    users.clickAt(centre);
    EXPECT_TRUE(test::waitUntil([&] { return users.received(centre); }, 10s));
    EXPECT_TRUE(users.hasFocus());

    dictation.say("go forward");
    EXPECT_EQ(hud.view().shownText(), "go forward");
    dictation.key->release();
    EXPECT_TRUE(settle(IsUnmapped));
}

}  // namespace
}  // namespace zarn::ui
