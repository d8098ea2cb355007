// The paste into a native Wayland window under a headless sway: foot, a Wayland-only
// terminal, pastes the clipboard on Ctrl+Shift+V into the program it runs.

#include <gtest/gtest.h>

#include "base/EventLoop.h"
#include "inject/TextInjector.h"
#include "platform/linux/session/SwaySession.h"
#include "platform/linux/wayland/DataControlClipboard.h"
#include "platform/linux/wayland/SessionKeys.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// A terminal's accessible object, as VTE gives one; foot itself has none.
class TerminalFocus : public inject::Accessibility, public inject::AccessibleElement {
public:
    std::shared_ptr<inject::AccessibleElement> focusedElement() override {
        return std::shared_ptr<inject::AccessibleElement>(std::shared_ptr<void>(), this);
    }
    std::optional<bool> isSelectedTextSettable() override { return false; }
    std::optional<inject::TextRange> selectedTextRange() override { return std::nullopt; }
    bool setSelectedText(const std::string&) override { return false; }
    bool isInTerminal() override { return true; }
};

constexpr auto wlPaste = test::SwaySession::clipboard;

TEST(WaylandPasteE2E, VirtualKeyboardPastesIntoANativeTerminalAndTheClipboardComesBack) {
    if (auto missing = test::SwaySession::missingTool(); !missing.empty()) GTEST_SKIP() << missing << " is not installed";
    if (!test::installed("foot")) GTEST_SKIP() << "foot is not installed";
    test::LogCapture logs;
    test::SwaySession sway;
    test::TempDir dir;
    // The keyboard comes before the window, as a desktop's real one does.
    auto keys = wl::sessionKeys();
    ChildProcess users({"wl-copy", "--foreground", "the user's words"}, false);
    ASSERT_TRUE(test::waitUntil([] { return wlPaste() == "the user's words"; }, 10s));

    const std::string dictated = "w\xc3\xb6rds";  // 6 bytes
    auto ready = dir.path() / "ready", out = dir.path() / "out";
    ChildProcess terminal({"foot", "sh", "-c",
                           "stty -icanon -echo && touch " + ready.string() + " && head -c 6 > " + out.string()},
                          false);
    ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(ready); }, 20s));
    ASSERT_TRUE(test::waitUntil([&] { return sway.command("[app_id=foot con_id=__focused__] nop"); }, 20s));

    EventLoop loop;
    TerminalFocus focus;
    wl::DataControlClipboard clipboard;
    TextInjector injector(focus, clipboard, *keys, loop);
    injector.insert(dictated);
    loop.runUntil([&] { return !injector.isPasting(); }, 10s);

    EXPECT_TRUE(test::waitUntil([&] { return test::readFile(out) == dictated; }, 10s)) << test::readFile(out);
    EXPECT_TRUE(test::waitUntil([] { return wlPaste() == "the user's words"; }, 10s)) << wlPaste();
    // Restored, the user's words are ours to serve: they outlive the clipboard object.
    EXPECT_TRUE(clipboard.handOver());
    EXPECT_EQ(wlPaste(), "the user's words");
    EXPECT_TRUE(logs.contains("paste keystroke via Wayland virtual keyboard (terminal)"));
}

}  // namespace
}  // namespace zarn
