// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/linux/session/XvfbServer.h"
#include "base/ManualExecutor.h"
#include "hotkey/HotkeyMonitor.h"
#include "platform/linux/x11hotkey/X11EventHook.h"
#include "support/LogCapture.h"

namespace zarn {
namespace {

// Key codes of Xvfb's default keymap (evdev rules): <RALT> 108 = Alt_R, <LALT> 64 = Alt_L,
// <AC01> 38 = "a", <AB05> 56 = "b", <AB03> 54 = "c". The fixture checks them before use.
constexpr int kRightAlt = 108;
constexpr int kLeftAlt = 64;
constexpr int kLetterA = 38;
constexpr int kLetterB = 56;
constexpr int kLetterC = 54;

struct KeyRecord {
    int type;  // KeyPress or KeyRelease
    int keycode;
    bool operator==(const KeyRecord&) const = default;
};

// Another application's window that has the keyboard focus and records what it receives.
class FocusedWindow {
public:
    explicit FocusedWindow(const std::string& display) {
        display_ = XOpenDisplay(display.c_str());
        if (!display_) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapWindow(display_, window_);
        XEvent event;
        do {
            XNextEvent(display_, &event);
        } while (event.type != MapNotify);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    ~FocusedWindow() {
        if (display_) XCloseDisplay(display_);
    }
    bool isOpen() const { return display_ != nullptr; }

    // Reads events until `marker` arrives; returns every key event up to and with it.
    std::vector<KeyRecord> keysThrough(KeyRecord marker) {
        std::vector<KeyRecord> seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type != KeyPress && event.type != KeyRelease) continue;
                KeyRecord record{event.type, static_cast<int>(event.xkey.keycode)};
                seen.push_back(record);
                char text[8];
                if (event.type == KeyPress) {
                    typed.append(text, XLookupString(&event.xkey, text, sizeof text, nullptr, nullptr));
                }
                if (record == marker) return seen;
            }
            pollfd p{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&p, 1, 100);
        }
        ADD_FAILURE() << "the focused window never received the marker key";
        return seen;
    }
    std::vector<KeyRecord> keysUntil(KeyRecord marker) {
        auto seen = keysThrough(marker);
        if (!seen.empty() && seen.back() == marker) seen.pop_back();
        return seen;
    }

    std::string typed;  // the text of the key presses received

private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

class X11HotkeyE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb.isRunning()) << xvfb.failure();
        driver = XOpenDisplay(xvfb.display().c_str());
        ASSERT_NE(driver, nullptr);
        int event = 0, error = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(driver, &event, &error, &major, &minor));
        for (auto [code, sym] : {std::pair<int, KeySym>{kRightAlt, XK_Alt_R}, {kLeftAlt, XK_Alt_L}, {kLetterA, XK_a},
                                 {kLetterB, XK_b}, {kLetterC, XK_c}}) {
            ASSERT_EQ(XkbKeycodeToKeysym(driver, static_cast<KeyCode>(code), 0, 0), sym);
        }
        ASSERT_TRUE(window.isOpen());

        monitor.setOnPress([this] { edges.push_back("press"); });
        monitor.setOnRelease([this] { edges.push_back("release"); });
    }
    void TearDown() override {
        monitor.stop();
        if (driver) XCloseDisplay(driver);
    }

    void key(int keycode, bool down) {
        XTestFakeKeyEvent(driver, static_cast<unsigned>(keycode), down ? True : False, CurrentTime);
        XFlush(driver);
    }
    void tap(int keycode) {
        key(keycode, true);
        key(keycode, false);
    }
    bool waitForEdges(std::size_t count) {
        return executor.runUntil([&] { return edges.size() >= count; }, std::chrono::seconds(10));
    }
    // What the focused window saw since the last call, up to a tap of "a".
    std::vector<KeyRecord> windowKeys() {
        tap(kLetterA);
        auto keys = window.keysUntil({KeyRelease, kLetterA});
        std::erase(keys, KeyRecord{KeyPress, kLetterA});
        return keys;
    }
    bool keyIsFreeToGrab(int keycode) { return test::keyIsFreeToGrab(xvfb.display(), keycode); }

    test::XvfbServer xvfb;
    Display* driver = nullptr;
    FocusedWindow window{xvfb.display()};
    ManualExecutor executor;
    HotkeyMonitor monitor{executor, std::make_unique<x11::X11EventHook>(xvfb.display())};
    std::vector<std::string> edges;
    test::LogCapture logs;
};

TEST_F(X11HotkeyE2ETest, KeysTypedWhileRightAltIsHeldReachTheFocusedWindowWithoutEitherAltEdge) {
    ASSERT_TRUE(monitor.start());
    tap(kLeftAlt);  // not the key: passes and, as the edges show at the end, is not reported
    EXPECT_EQ(window.keysThrough({KeyRelease, kLeftAlt}),
              (std::vector<KeyRecord>{{KeyPress, kLeftAlt}, {KeyRelease, kLeftAlt}}));
    key(kRightAlt, true);
    ASSERT_TRUE(waitForEdges(1));
    // Typed as a person types, each key once the window has the one before; left Alt too.
    std::vector<KeyRecord> sent;
    std::vector<KeyRecord> seen;
    for (int code : {kLetterA, kLetterB, kLetterC, kLeftAlt}) {
        for (int type : {KeyPress, KeyRelease}) {
            key(code, type == KeyPress);
            sent.push_back({type, code});
            auto keys = window.keysThrough(sent.back());
            seen.insert(seen.end(), keys.begin(), keys.end());
        }
    }
    key(kRightAlt, false);
    ASSERT_TRUE(waitForEdges(2));
    EXPECT_EQ(window.typed, "abc");
    EXPECT_EQ(seen, sent);  // no right Alt press among them
    EXPECT_TRUE(windowKeys().empty());  // the release of right Alt stayed with the hook
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    // And the keyboard is not left held: the next tap is swallowed whole as well.
    tap(kRightAlt);
    ASSERT_TRUE(waitForEdges(4));
    EXPECT_TRUE(windowKeys().empty());
}

TEST_F(X11HotkeyE2ETest, FnIsReportedAndPassesThroughToTheFocusedWindow) {
    // Xvfb's keymap has no Fn key; give one to a keycode without symbols.
    int fnKey = 0;
    for (int code = 255; code > 8 && fnKey == 0; --code) {
        if (XkbKeycodeToKeysym(driver, static_cast<KeyCode>(code), 0, 0) == NoSymbol) fnKey = code;
    }
    ASSERT_NE(fnKey, 0);
    KeySym fn = 0x10081000 + 0x1D0;  // XF86XK_Fn
    XChangeKeyboardMapping(driver, fnKey, 1, &fn, 1);
    XSync(driver, False);

    monitor.setKey(PushToTalkKey::fn);
    ASSERT_TRUE(monitor.start());
    EXPECT_TRUE(keyIsFreeToGrab(fnKey));  // nothing is grabbed for a key that passes
    tap(fnKey);
    ASSERT_TRUE(waitForEdges(2));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    EXPECT_EQ(windowKeys(), (std::vector<KeyRecord>{{KeyPress, fnKey}, {KeyRelease, fnKey}}));
}

TEST_F(X11HotkeyE2ETest, StartingTwiceLeavesOneHookAndStopLetsGoOfTheKeyEvenWhileHeld) {
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.start());  // a second hook next to the first would have its grab refused
    EXPECT_FALSE(keyIsFreeToGrab(kRightAlt));
    key(kRightAlt, true);
    ASSERT_TRUE(waitForEdges(1));
    monitor.stop();
    key(kRightAlt, false);
    EXPECT_TRUE(keyIsFreeToGrab(kRightAlt));
    // No release is reported for the grabbed press, and the keyboard is not stuck.
    tap(kRightAlt);
    auto keys = windowKeys();
    EXPECT_NE(std::find(keys.begin(), keys.end(), KeyRecord{KeyPress, kRightAlt}), keys.end());
    EXPECT_EQ(edges, (std::vector<std::string>{"press"}));
}

// Passes everything to the X11 hook and counts how often the monitor re-enabled it.
class EnableCountingHook final : public hotkey::EventHook {
public:
    EnableCountingHook(std::string display, std::atomic<int>& enables)
        : inner_(std::move(display)), enables_(enables) {}
    bool install(PushToTalkKey key, Handler handler, Died died) override {
        return inner_.install(key, std::move(handler), std::move(died));
    }
    std::string failure() const override { return inner_.failure(); }
    void remove() override { inner_.remove(); }
    void enable() override {
        ++enables_;
        inner_.enable();
    }

private:
    x11::X11EventHook inner_;
    std::atomic<int>& enables_;
};

TEST_F(X11HotkeyE2ETest, StalledMainExecutorDoesNotLeaveTheKeyboardFrozen) {
    std::atomic<int> enables{0};
    HotkeyMonitor stalled(executor, std::make_unique<EnableCountingHook>(xvfb.display(), enables));
    stalled.setOnPress([this] { edges.push_back("press"); });
    stalled.setOnRelease([this] { edges.push_back("release"); });
    ASSERT_TRUE(stalled.start());

    // Nobody runs the main executor, so the verdict never comes: the hook lets the press
    // through after its timeout and reports that it was disabled.
    key(kRightAlt, true);
    EXPECT_EQ(windowKeys(), (std::vector<KeyRecord>{{KeyPress, kRightAlt}}));
    // The late press is still reported, and the notification re-enables the hook.
    ASSERT_TRUE(executor.runUntil([&] { return enables.load() == 1; }, std::chrono::seconds(10)));
    EXPECT_EQ(edges, (std::vector<std::string>{"press"}));
    // The press went through, so its release does too; it is still reported.
    key(kRightAlt, false);
    ASSERT_TRUE(waitForEdges(2));
    EXPECT_EQ(edges, (std::vector<std::string>{"press", "release"}));
    EXPECT_EQ(windowKeys(), (std::vector<KeyRecord>{{KeyRelease, kRightAlt}}));
    // From then on the edges are swallowed again.
    tap(kRightAlt);
    ASSERT_TRUE(waitForEdges(4));
    EXPECT_TRUE(windowKeys().empty());
    stalled.stop();
}

TEST_F(X11HotkeyE2ETest, GrabHeldByAnotherClientFailsTheStart) {
    Display* other = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(other, nullptr);
    XGrabKey(other, kRightAlt, AnyModifier, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    EXPECT_FALSE(monitor.start());
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(logs.errors(), std::vector<std::string>{"cannot watch Right Alt: another program holds a grab of Right Alt"});
    XCloseDisplay(other);
    EXPECT_TRUE(monitor.start());
}

TEST(X11HotkeyServerTest, ServerThatGoesAwayStopsTheMonitorWhichStartsAgainWhenItIsBack) {
    auto xvfb = std::make_unique<test::XvfbServer>();
    ASSERT_TRUE(xvfb->isRunning()) << xvfb->failure();
    const std::string display = xvfb->display();
    test::LogCapture logs;
    ManualExecutor executor;
    HotkeyMonitor monitor(executor, std::make_unique<x11::X11EventHook>(display));
    int failures = 0;
    monitor.setOnFailure([&] { ++failures; });
    ASSERT_TRUE(monitor.start());

    // Xlib would end the whole process on a lost connection unless the hook handles it.
    xvfb->stop();
    ASSERT_TRUE(executor.runUntil([&] { return failures == 1; }));
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_FALSE(monitor.start());  // a retry while the server is away
    EXPECT_EQ(logs.errors(), (std::vector<std::string>{"stopped watching Right Alt: lost the connection to the X display",
                                                       "cannot watch Right Alt: cannot open the X display " + display}));

    xvfb = std::make_unique<test::XvfbServer>(display);
    ASSERT_TRUE(xvfb->isRunning()) << xvfb->failure();
    ASSERT_TRUE(monitor.start());
    EXPECT_FALSE(test::keyIsFreeToGrab(display, kRightAlt));  // the new server's key is watched
    monitor.stop();
}

}  // namespace
}  // namespace zarn
