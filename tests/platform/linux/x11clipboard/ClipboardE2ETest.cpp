// End to end on a private Xvfb display with its own session and accessibility buses.

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <thread>

#include "platform/linux/session/DesktopSession.h"
#include "platform/linux/session/PasteTarget.h"
#include "platform/linux/x11clipboard/ClipboardHandOver.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/xtest/XTestKeySynthesizer.h"
#include "support/ScopedEnv.h"

// Last: its macros (None, Bool) would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zarn {
namespace {

using namespace std::chrono_literals;
using inject::PasteboardItem;
using test::DesktopSession;
using test::PasteTarget;

// Large enough that both reading and serving it need incremental transfers.
std::string pseudoPng(std::size_t size) {
    std::string bytes("\x89PNG\r\n\x1a\n", 8);
    std::mt19937 random(42);
    while (bytes.size() < size) bytes.push_back(static_cast<char>(random() & 0xff));
    return bytes;
}

PasteboardItem usersContent() {
    return {{"text/plain", "plain \xe2\x9c\x93"}, {"text/html", "<b>bold</b> \xe2\x9c\x93"}, {"image/png", pseudoPng(1'500'000)}};
}

// The targets as a third client sees them on the display.
std::vector<x11::SelectionTarget> clipboardSeenFromOutside() {
    x11::X11Selection reader("");
    auto content = reader.read(10s);
    return content ? *content : std::vector<x11::SelectionTarget>{};
}

void expectSameContent(const std::vector<x11::SelectionTarget>& seen, const PasteboardItem& expected) {
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].target, expected[i].type);
        EXPECT_EQ(seen[i].format, 8);
        EXPECT_TRUE(seen[i].bytes == expected[i].bytes) << expected[i].type << " differs";
    }
}

class ClipboardE2E : public ::testing::Test {
protected:
    void SetUp() override {
        auto missing = DesktopSession::missingTool(true);
        if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
        session = std::make_unique<DesktopSession>(true);
    }
    std::unique_ptr<DesktopSession> session;
};

// Large content travelling between clients is the restore test's; here, who owns it.
TEST_F(ClipboardE2E, OwnershipChangesAreNoticedByBothSides) {
    x11::X11Clipboard owner;
    x11::X11Clipboard other;
    EXPECT_EQ(other.items(), std::nullopt);  // nobody owns the clipboard yet
    auto before = other.changeCount();
    owner.writeItems({usersContent()});
    EXPECT_TRUE(owner.ownsClipboard());
    EXPECT_GT(other.changeCount(), before);
    // Taking the clipboard over is a change for the one that lost it.
    before = owner.changeCount();
    other.setString("mine now");
    EXPECT_FALSE(owner.ownsClipboard());
    EXPECT_GT(owner.changeCount(), before);
    auto seen = clipboardSeenFromOutside();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].target, "UTF8_STRING");
    EXPECT_EQ(seen[0].bytes, "mine now");
}

TEST_F(ClipboardE2E, ServingEndsWhenAnotherClientTakesTheSelection) {
    std::atomic<bool> owned{false};
    std::thread server([&] {
        x11::serveUntilTaken("", x11::textTargets("served"), [&] { owned = true; });
    });
    ASSERT_TRUE(test::waitUntil([&] { return owned.load(); }, 10s));
    auto seen = clipboardSeenFromOutside();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].bytes, "served");
    x11::X11Clipboard taker;
    taker.setString("taken");
    server.join();  // returns once the selection is gone; the test's timeout catches a hang
    EXPECT_TRUE(taker.ownsClipboard());
}

TEST_F(ClipboardE2E, PasteShortcutAddsShiftOnlyForTerminals) {
    x11::XTestKeySynthesizer keys;
    {
        PasteTarget editor("gedit");
        EXPECT_EQ(keys.focusedWindowClass().first, "gedit");
        ASSERT_TRUE(keys.postPaste(false));
        auto paste = editor.waitForPaste(5s);
        ASSERT_TRUE(paste);
        EXPECT_FALSE(paste->shift);
    }
    PasteTarget terminal("xterm");
    ASSERT_TRUE(keys.postPaste(false));
    auto paste = terminal.waitForPaste(5s);
    ASSERT_TRUE(paste);
    EXPECT_TRUE(paste->shift);
}

// A clipboard manager as desktops run one: owns CLIPBOARD_MANAGER and, asked to
// SAVE_TARGETS, reads the listed targets from the clipboard's owner and serves them itself.
class TinyClipboardManager {
public:
    TinyClipboardManager() : display_(XOpenDisplay(nullptr)) {
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, XInternAtom(display_, "CLIPBOARD_MANAGER", False), window_, CurrentTime);
        XSync(display_, False);
        thread_ = std::thread([this] { run(); });
    }
    ~TinyClipboardManager() {
        stop_ = true;
        thread_.join();
        XCloseDisplay(display_);
    }
    std::vector<std::string> listed() {
        std::lock_guard lock(mutex_);
        return listed_;
    }

private:
    void run() {
        x11::X11Selection clipboard("");
        while (!stop_) {
            pollfd p[2] = {{ConnectionNumber(display_), POLLIN, 0}, {clipboard.fd(), POLLIN, 0}};
            poll(p, 2, 50);
            clipboard.dispatchPending();
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == SelectionRequest) save(event.xselectionrequest, clipboard);
            }
        }
    }
    void save(const XSelectionRequestEvent& request, x11::X11Selection& clipboard) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display_, request.requestor, request.property, 0, 4096, False, XA_ATOM, &type, &format,
                           &count, &after, &data);
        std::vector<std::string> names;
        for (unsigned long i = 0; data && i < count; ++i) {
            char* name = XGetAtomName(display_, reinterpret_cast<Atom*>(data)[i]);
            names.emplace_back(name);
            XFree(name);
        }
        if (data) XFree(data);
        auto content = clipboard.read(std::chrono::seconds(10)).value_or(std::vector<x11::SelectionTarget>{});
        std::erase_if(content, [&](const auto& t) { return std::find(names.begin(), names.end(), t.target) == names.end(); });
        clipboard.own(content);
        {
            std::lock_guard lock(mutex_);
            listed_ = names;
        }
        XSelectionEvent reply{SelectionNotify, 0, True, display_, request.requestor, request.selection,
                              request.target, request.property, request.time};
        XSendEvent(display_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
        XFlush(display_);
    }

    Display* display_;
    Window window_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> listed_;
    std::thread thread_;
};

// With a clipboard manager running, it gets the content (the executable that would serve
// it in the background does not even exist), byte for byte, and keeps it after we are gone.
TEST_F(ClipboardE2E, ClipboardManagerKeepsTheContentAfterTheOwnerIsGone) {
    TinyClipboardManager manager;
    {
        x11::X11Clipboard app;
        app.writeItems({usersContent()});
        std::string error;
        EXPECT_TRUE(x11::handOverClipboard(app, "/nonexistent/zarn", &error, 20s)) << error;
        EXPECT_FALSE(app.ownsClipboard());
    }
    EXPECT_EQ(manager.listed(), (std::vector<std::string>{"text/plain", "text/html", "image/png"}));
    expectSameContent(clipboardSeenFromOutside(), usersContent());
}

// A window without accessibility gets the text of `zarn insert` by paste, and the user's
// clipboard of plain text, HTML and a PNG image is back afterwards, byte for byte: with no
// clipboard manager, served by a background copy of the command once it has exited.
TEST_F(ClipboardE2E, InsertCommandPastesAndKeepsServingTheRestoredClipboard) {
    PasteTarget target;
    x11::X11Clipboard usersApp;
    usersApp.writeItems({usersContent()});

    test::ChildProcess command({ZARN_CLI_BINARY, "insert", "from the command line"}, true);
    EXPECT_EQ(command.wait(30s), 0);
    auto paste = target.waitForPaste(5s);
    ASSERT_TRUE(paste);
    EXPECT_EQ(paste->text, "from the command line");

    // Nothing of this process serves it any more: the background copy does.
    EXPECT_FALSE(usersApp.ownsClipboard());
    expectSameContent(clipboardSeenFromOutside(), usersContent());

    x11::X11Clipboard taker;
    taker.setString("copied later");  // lets the background copy leave
}

// Without any session bus the accessibility library would abort the process; the command
// must fall back to pasting instead.
TEST(InsertWithoutBus, FallsBackToPasting) {
    if (!test::DesktopSession::missingTool(false).empty()) GTEST_SKIP() << "Xvfb is not installed";
    test::DesktopSession session(false);
    test::ScopedEnv env;
    env.set("DBUS_SESSION_BUS_ADDRESS", "disabled:");  // no bus, and no autolaunch either
    test::PasteTarget target;
    test::ChildProcess command({ZARN_CLI_BINARY, "insert", "no bus"}, true);
    EXPECT_EQ(command.wait(30s), 0);
    auto paste = target.waitForPaste(5s);
    ASSERT_TRUE(paste);
    EXPECT_EQ(paste->text, "no bus");
}

}  // namespace
}  // namespace zarn
