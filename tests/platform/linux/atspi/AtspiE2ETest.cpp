// A real Qt line edit, reached through the AT-SPI bus of a private session.

#include <gtest/gtest.h>

#include "base/EventLoop.h"
#include "inject/TextInjector.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/session/DesktopSession.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/xtest/XTestKeySynthesizer.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::DesktopSession;

// The accessibility library connects to the session bus once per process, so the tests of
// this program share one desktop; each starts its own text field.
class AtspiE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (DesktopSession::missingTool(true).empty()) session = std::make_unique<DesktopSession>(true);
    }
    static void TearDownTestSuite() { session.reset(); }

    void SetUp() override {
        auto missing = DesktopSession::missingTool(true);
        if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
        env.set("ZARN_LOG_PRIVATE", "1");
    }

    // Starts the line edit and waits until it has the focus and AT-SPI can see it.
    std::unique_ptr<ChildProcess> startField(std::vector<std::string> args, atspi::AtspiAccessibility& accessibility) {
        args.insert(args.begin(), ZARN_LINEEDIT_APP);
        auto app = std::make_unique<ChildProcess>(args, true);
        auto ready = app->readLine(20s);
        EXPECT_EQ(ready, "ready");
        EXPECT_TRUE(test::waitUntil([&] { return accessibility.focusedElement() != nullptr; }, 20s));
        return app;
    }

    // The field's text after its last change within `timeout`.
    static std::string lastText(ChildProcess& app, std::chrono::milliseconds timeout) {
        std::string text;
        while (auto line = app.readLine(timeout)) {
            if (line->rfind("text:", 0) == 0) text = line->substr(5);
            timeout = 300ms;  // after the first change, only what follows closely
        }
        return text;
    }

    static inline std::unique_ptr<DesktopSession> session;
    test::ScopedEnv env;
    test::LogCapture log;
};

TEST_F(AtspiE2E, SelectedTextIsReplaced) {
    EventLoop loop;
    atspi::AtspiAccessibility accessibility;
    auto app = startField({"replace me", "--select-all"}, accessibility);
    auto element = accessibility.focusedElement();
    ASSERT_TRUE(element);
    EXPECT_EQ(element->isSelectedTextSettable(), true);
    EXPECT_EQ(element->selectedTextRange(), (inject::TextRange{0, 10}));

    x11::X11Clipboard clipboard;
    x11::XTestKeySynthesizer keys;
    TextInjector injector(accessibility, clipboard, keys, loop);
    injector.insert("new");
    EXPECT_EQ(lastText(*app, 10s), "new");
    EXPECT_EQ(log.messages("inject"), std::vector<std::string>{"inserted via AX (3 chars)"});
    EXPECT_EQ(element->selectedTextRange(), (inject::TextRange{3, 0}));
    EXPECT_FALSE(element->isInTerminal());
}

TEST_F(AtspiE2E, TerminalIsRecognizedByItsApplicationName) {
    atspi::AtspiAccessibility accessibility;
    env.set("ZARN_TEST_APP_NAME", "konsole");
    auto app = startField({""}, accessibility);
    env.set("ZARN_TEST_APP_NAME", nullptr);
    auto element = accessibility.focusedElement();
    ASSERT_TRUE(element);
    EXPECT_TRUE(element->isInTerminal());
}

// The command's text arrives through accessibility, verified: the clipboard is never used.
TEST_F(AtspiE2E, InsertCommandUsesAccessibility) {
    atspi::AtspiAccessibility accessibility;
    ASSERT_TRUE(accessibility.available());
    auto app = startField({"Hello "}, accessibility);
    ChildProcess command({ZARN_CLI_BINARY, "insert", "w\xc3\xb6rld \xf0\x9f\x91\x8d"}, true);
    EXPECT_EQ(command.wait(30s), 0);
    EXPECT_EQ(lastText(*app, 10s), "Hello w\xc3\xb6rld \xf0\x9f\x91\x8d");
    x11::X11Clipboard clipboard;
    EXPECT_EQ(clipboard.items(), std::nullopt);
}

// An accessibility bus that died leaves its address on the root window; the library would
// abort the process on it, so the address is tried first and the paste path taken.
TEST(AtspiStaleBus, DeadAddressOnTheRootWindowIsNotFatal) {
    if (!DesktopSession::missingTool(false).empty()) GTEST_SKIP() << "Xvfb is not installed";
    DesktopSession desktop(false);
    ASSERT_TRUE(test::runCommand({"xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS",
                                  "unix:path=/nonexistent/at-spi-bus"}));
    ChildProcess command({ZARN_CLI_BINARY, "insert", "typed"}, true);
    EXPECT_EQ(command.wait(30s), 0);
}

}  // namespace
}  // namespace zarn
