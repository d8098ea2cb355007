#include "inject/TextInjector.h"
#include "inject/KeyRoutes.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "base/ManualExecutor.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using inject::PasteboardSnapshot;
using inject::TextRange;
using inject::TypedData;

// A text field that behaves like a real one unless told to misbehave.
class FakeElement : public inject::AccessibleElement {
public:
    std::optional<bool> settable = true;
    std::optional<TextRange> range = TextRange{10, 0};
    bool failSet = false;
    bool moveOnSet = true;
    bool rangeUnreadableAfterSet = false;
    bool terminal = false;
    std::vector<std::string> received;
    int calls = 0;

    std::optional<bool> isSelectedTextSettable() override {
        ++calls;
        return settable;
    }
    std::optional<TextRange> selectedTextRange() override {
        ++calls;
        return range;
    }
    bool setSelectedText(const std::string& text) override {
        ++calls;
        if (failSet) return false;
        received.push_back(text);
        if (rangeUnreadableAfterSet) range.reset();
        if (moveOnSet && range) range->location += static_cast<std::int64_t>(text.size());
        return true;
    }
    bool isInTerminal() override { return terminal; }
};

class FakeAccessibility : public inject::Accessibility {
public:
    std::shared_ptr<FakeElement> element = std::make_shared<FakeElement>();
    int calls = 0;
    std::shared_ptr<inject::AccessibleElement> focusedElement() override {
        ++calls;
        return element;
    }
};

class FakePasteboard : public inject::Pasteboard {
public:
    std::optional<PasteboardSnapshot> content = PasteboardSnapshot{};
    std::int64_t count = 0;
    int writes = 0;

    std::optional<PasteboardSnapshot> items() override { return content; }
    void clearContents() override {
        content = PasteboardSnapshot{};
        ++count;
        ++writes;
    }
    void setString(const std::string& text) override {
        content = PasteboardSnapshot{{TypedData{"text/plain", text}}};
        ++writes;
    }
    void writeItems(const PasteboardSnapshot& items) override {
        if (!content) content = PasteboardSnapshot{};
        content->insert(content->end(), items.begin(), items.end());
        ++writes;
    }
    std::int64_t changeCount() override { return count; }

    // What another application does when the user copies.
    void userCopies(const std::string& text) {
        content = PasteboardSnapshot{{TypedData{"text/plain", text}}};
        ++count;
    }
};

// Remembers what the clipboard offered at each paste keystroke.
class FakeKeys : public inject::KeySynthesizer {
public:
    explicit FakeKeys(FakePasteboard& pasteboard) : pasteboard_(pasteboard) {}
    bool fail = false;
    std::vector<std::optional<PasteboardSnapshot>> pastedContent;
    std::vector<bool> terminal;
    bool postPaste(bool toTerminal) override {
        if (fail) return false;
        pastedContent.push_back(pasteboard_.content);
        terminal.push_back(toTerminal);
        return true;
    }

private:
    FakePasteboard& pasteboard_;
};

PasteboardSnapshot plainText(const std::string& text) { return {{TypedData{"text/plain", text}}}; }

class TextInjectorTest : public ::testing::Test {
protected:
    TextInjectorTest() {
        env.set("ZARN_LOG_PRIVATE", "1");  // character counts are private arguments
        pasteboard.content = plainText("mine");
    }
    std::vector<std::string> lines() const { return logs.messages("inject"); }
    std::string lastLine() const {
        auto all = logs.records();
        return all.empty() ? "" : all.back().message;
    }
    // Pastes `text` with no accessible element and lets every timer run.
    void paste(const std::string& text) {
        accessibility.element = nullptr;
        injector.insert(text);
    }

    test::ScopedEnv env;
    test::LogCapture logs;
    ManualExecutor main;
    FakeAccessibility accessibility;
    FakePasteboard pasteboard;
    FakeKeys keys{pasteboard};
    TextInjector injector{accessibility, pasteboard, keys, main};
};

TEST_F(TextInjectorTest, EmptyTextTouchesNothing) {
    injector.insert("");
    main.runAll();
    EXPECT_EQ(accessibility.calls, 0);
    EXPECT_EQ(pasteboard.writes, 0);
    EXPECT_TRUE(keys.pastedContent.empty());
    EXPECT_EQ(logs.count(), 0u);
}

TEST_F(TextInjectorTest, VerifiedAccessibilityInsertLeavesClipboardAlone) {
    // thumbs up + skin tone, e + combining acute: two characters, not bytes or code units
    injector.insert("\U0001F44D\U0001F3FD" "e\u0301");
    EXPECT_EQ(accessibility.element->received, std::vector<std::string>{"\U0001F44D\U0001F3FD" "e\u0301"});
    EXPECT_EQ(lines(), std::vector<std::string>{"inserted via AX (2 chars)"});
    EXPECT_FALSE(injector.isPasting());
    main.runAll();
    EXPECT_EQ(pasteboard.writes, 0);
    EXPECT_EQ(pasteboard.content, plainText("mine"));
    EXPECT_TRUE(keys.pastedContent.empty());
}

// Every way the accessibility attempt can fail ends in a paste, with its reason logged.
TEST_F(TextInjectorTest, UnverifiedReasonsFallBackToPaste) {
    const std::vector<std::tuple<std::string, std::function<void(FakeAccessibility&)>, bool>> cases = {
        {"no focused element", [](FakeAccessibility& a) { a.element = nullptr; }, false},
        {"selected text not settable", [](FakeAccessibility& a) { a.element->settable = false; }, false},
        {"selected text not settable", [](FakeAccessibility& a) { a.element->settable = std::nullopt; }, false},
        {"selected text not settable", [](FakeAccessibility& a) { a.element->terminal = true; a.element->settable = false; }, false},
        {"no readable selection range", [](FakeAccessibility& a) { a.element->range = std::nullopt; }, false},
        {"set attribute failed", [](FakeAccessibility& a) { a.element->failSet = true; }, false},
        {"selection range unreadable after write", [](FakeAccessibility& a) { a.element->rangeUnreadableAfterSet = true; }, true},
        {"selection unmoved at 10", [](FakeAccessibility& a) { a.element->moveOnSet = false; }, true},
    };
    for (const auto& [reason, arrange, wrote] : cases) {
        SCOPED_TRACE(reason);
        ManualExecutor loop;
        FakeAccessibility a11y;
        arrange(a11y);
        FakePasteboard board;
        board.content = plainText("mine");
        FakeKeys paste(board);
        TextInjector subject(a11y, board, paste, loop);

        subject.insert("dictated");
        EXPECT_EQ(lastLine(), "AX insert not verified (" + reason + ") — pasting");
        EXPECT_EQ(a11y.element ? a11y.element->received.size() : 0u, wrote ? 1u : 0u);
        // Loaded at once, pasted 40 ms later, restored 500 ms after that.
        EXPECT_EQ(board.content, plainText("dictated"));
        loop.advanceBy(39ms);
        EXPECT_TRUE(paste.pastedContent.empty());
        loop.advanceBy(1ms);
        EXPECT_EQ(paste.pastedContent, std::vector<std::optional<PasteboardSnapshot>>{plainText("dictated")});
        EXPECT_EQ(paste.terminal, std::vector<bool>{a11y.element && a11y.element->terminal});  // Ctrl+Shift+V
        EXPECT_EQ(lastLine(), "pasted (8 chars)");
        loop.advanceBy(499ms);
        EXPECT_TRUE(subject.isPasting());
        loop.advanceBy(1ms);
        EXPECT_EQ(board.content, plainText("mine"));
        EXPECT_FALSE(subject.isPasting());
    }
}

TEST_F(TextInjectorTest, WhatTheClipboardHeldComesBackAsItWas) {
    const PasteboardSnapshot original = {
        {TypedData{"text/plain", "caf\xc3\xa9"}, TypedData{"text/rtf", "{\\rtf1 caf\\'e9}"}},
        {TypedData{"image/png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)}},
        {},  // an item without readable data still counts
    };
    pasteboard.content = original;
    paste("text");
    main.runAll();
    EXPECT_EQ(pasteboard.content, original);

    // An empty or absent clipboard keeps the dictated text.
    for (auto before : {std::optional<PasteboardSnapshot>(PasteboardSnapshot{}), std::optional<PasteboardSnapshot>()}) {
        pasteboard.content = before;
        paste("kept");
        main.runAll();
        EXPECT_EQ(pasteboard.content, plainText("kept"));
    }
}

TEST_F(TextInjectorTest, FailedKeystrokeIsLoggedAsErrorAndClipboardStillRestored) {
    keys.fail = true;
    paste("lost");
    main.runAll();
    EXPECT_EQ(lastLine(), "paste shortcut could not be synthesized (4 chars)");
    EXPECT_EQ(logs.records().back().level, Log::Level::error);
    EXPECT_EQ(pasteboard.content, plainText("mine"));
}

// A second paste that starts before the first one's restore (or even before its keystroke)
// must not leave the first dictation on the clipboard: the user's content comes back, and
// each paste delivers its own text.
TEST_F(TextInjectorTest, OverlappingPastesRestoreTheUsersContent) {
    paste("one");
    main.advanceBy(100ms);  // pasted, restore still pending
    injector.insert("two");
    main.advanceBy(10ms);
    injector.insert("three");
    main.runAll();
    injector.insert("four");
    main.advanceBy(5ms);  // within the first 40 ms
    injector.insert("five");
    main.runAll();
    std::vector<std::optional<PasteboardSnapshot>> expected;
    for (const char* text : {"one", "two", "three", "four", "five"}) expected.push_back(plainText(text));
    EXPECT_EQ(keys.pastedContent, expected);
    EXPECT_EQ(pasteboard.content, plainText("mine"));
    EXPECT_FALSE(injector.isPasting());
}

// Content the user copies while the restore is pending is newer than the snapshot and stays;
// a clipboard manager re-serving the dictated text is no such copy.
TEST_F(TextInjectorTest, CopyDuringRestoreDelayIsNotOverwritten) {
    paste("dictated");
    main.advanceBy(60ms);
    pasteboard.userCopies("dictated");
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("mine"));

    paste("dictated");
    main.advanceBy(300ms);
    pasteboard.userCopies("copied meanwhile");
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("copied meanwhile"));
    EXPECT_EQ(lastLine(), "clipboard changed during the paste — not restored");

    // With a paste waiting behind: that paste saves and then restores the new copy.
    injector.insert("a");
    main.advanceBy(100ms);
    injector.insert("b");
    main.advanceBy(100ms);
    pasteboard.userCopies("newest");
    main.runAll();
    EXPECT_EQ(keys.pastedContent.back(), plainText("b"));
    EXPECT_EQ(pasteboard.content, plainText("newest"));
}

TEST_F(TextInjectorTest, DestroyedInjectorRestoresAtOnceAndLeavesNoTimerBehind) {
    accessibility.element = nullptr;
    for (bool userCopies : {false, true}) {
        {
            TextInjector shortLived(accessibility, pasteboard, keys, main);
            shortLived.insert("x");
            main.advanceBy(20ms);
            if (userCopies) pasteboard.userCopies("newer");  // left alone
        }
        EXPECT_EQ(pasteboard.content, plainText(userCopies ? "newer" : "mine"));
        main.runAll();
        EXPECT_TRUE(keys.pastedContent.empty());
    }
}

// Each paste goes by the first route that reaches the focused window; none is an error.
TEST(KeyRoutes, FirstRouteReachingTheFocusPostsThePaste) {
    FakePasteboard board;
    for (bool x11Focused : {true, false}) {
        auto xtest = std::make_unique<FakeKeys>(board), virtualKeyboard = std::make_unique<FakeKeys>(board);
        auto *x = xtest.get(), *v = virtualKeyboard.get();
        std::vector<inject::KeyRoutes::Route> list(2);
        list[0] = {"XTest", std::move(xtest), [&] { return x11Focused; }};
        list[1] = {"Wayland virtual keyboard", std::move(virtualKeyboard), {}};
        inject::KeyRoutes routes(std::move(list));
        EXPECT_TRUE(routes.postPaste(true));
        EXPECT_EQ(x->terminal, std::vector<bool>(x11Focused ? 1 : 0, true));
        EXPECT_EQ(v->terminal, std::vector<bool>(x11Focused ? 0 : 1, true));
    }
    EXPECT_FALSE(inject::KeyRoutes({}).postPaste(false));
}

}  // namespace
}  // namespace zarn
