#include "inject/TextInjector.h"
#include "inject/KeyRoutes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "base/Log.h"
#include "base/ManualExecutor.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using inject::PasteboardItem;
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
        else if (moveOnSet && range) range = TextRange{range->location + static_cast<std::int64_t>(text.size()), 0};
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

PasteboardSnapshot plainText(const std::string& text) {
    return {{TypedData{"text/plain", text}}};
}

class TextInjectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Character counts are private arguments; reveal them to check them.
        setenv("ZARN_LOG_PRIVATE", "1", 1);
        Log::setSinkForTesting([this](const Log::Record& record) {
            std::lock_guard lock(mutex_);
            if (record.category == "inject") lines_.push_back(record.message);
        });
    }
    void TearDown() override { Log::setSinkForTesting(nullptr); }

    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    ManualExecutor main;
    FakeAccessibility accessibility;
    FakePasteboard pasteboard;
    FakeKeys keys{pasteboard};
    TextInjector injector{accessibility, pasteboard, keys, main};

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST_F(TextInjectorTest, EmptyTextTouchesNothing) {
    pasteboard.content = plainText("mine");
    injector.insert("");
    main.runAll();
    EXPECT_EQ(accessibility.calls, 0);
    EXPECT_EQ(pasteboard.writes, 0);
    EXPECT_TRUE(keys.pastedContent.empty());
    EXPECT_TRUE(lines().empty());
}

TEST_F(TextInjectorTest, VerifiedAccessibilityInsertLeavesClipboardAlone) {
    pasteboard.content = plainText("mine");
    injector.insert("hello");
    EXPECT_EQ(accessibility.element->received, std::vector<std::string>{"hello"});
    EXPECT_EQ(accessibility.element->range, (TextRange{15, 0}));
    EXPECT_EQ(lines(), std::vector<std::string>{"inserted via AX (5 chars)"});
    EXPECT_FALSE(injector.isPasting());
    main.runAll();
    EXPECT_EQ(pasteboard.writes, 0);
    EXPECT_EQ(pasteboard.content, plainText("mine"));
    EXPECT_TRUE(keys.pastedContent.empty());
}

TEST_F(TextInjectorTest, GraphemesAreCountedNotBytesOrCodeUnits) {
    // thumbs up + skin tone, e + combining acute, a flag, a family joined by ZWJ
    injector.insert("\U0001F44D\U0001F3FD" "e\u0301" "\U0001F1EB\U0001F1F7" "\U0001F468\u200D\U0001F469\u200D\U0001F467");
    EXPECT_EQ(lines(), std::vector<std::string>{"inserted via AX (4 chars)"});

    accessibility.element = nullptr;
    injector.insert("a\u0308o\u0308");
    main.runAll();
    EXPECT_EQ(lines().back(), "pasted (2 chars)");
}

// Every way the accessibility attempt can fail ends in a paste, with its reason logged.
TEST_F(TextInjectorTest, UnverifiedReasonsFallBackToPaste) {
    struct Case {
        std::string reason;
        std::function<void(FakeAccessibility&)> arrange;
        bool expectWrite;
    };
    std::vector<Case> cases = {
        {"no focused element", [](FakeAccessibility& a) { a.element = nullptr; }, false},
        {"selected text not settable", [](FakeAccessibility& a) { a.element->settable = false; }, false},
        {"selected text not settable", [](FakeAccessibility& a) { a.element->settable = std::nullopt; }, false},
        {"selected text not settable", [](FakeAccessibility& a) { a.element->terminal = true; a.element->settable = false; }, false},
        {"no readable selection range", [](FakeAccessibility& a) { a.element->range = std::nullopt; }, false},
        {"set attribute failed", [](FakeAccessibility& a) { a.element->failSet = true; }, false},
        {"selection range unreadable after write", [](FakeAccessibility& a) { a.element->rangeUnreadableAfterSet = true; }, true},
        {"selection unmoved at 10", [](FakeAccessibility& a) { a.element->moveOnSet = false; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ManualExecutor loop;
        FakeAccessibility a11y;
        c.arrange(a11y);
        FakePasteboard board;
        board.content = plainText("mine");
        FakeKeys paste(board);
        TextInjector subject(a11y, board, paste, loop);
        auto before = lines().size();

        subject.insert("dictated");
        auto logged = lines();
        ASSERT_EQ(logged.size(), before + 1);
        EXPECT_EQ(logged.back(), "AX insert not verified (" + c.reason + ") — pasting");
        if (a11y.element) {
            EXPECT_EQ(a11y.element->received.size(), c.expectWrite ? 1u : 0u);
        }
        // Loaded at once, pasted 40 ms later, restored 500 ms after that.
        EXPECT_EQ(board.content, plainText("dictated"));
        loop.advanceBy(39ms);
        EXPECT_TRUE(paste.pastedContent.empty());
        loop.advanceBy(1ms);
        ASSERT_EQ(paste.pastedContent.size(), 1u);
        EXPECT_EQ(paste.pastedContent[0], plainText("dictated"));
        EXPECT_EQ(paste.terminal[0], a11y.element && a11y.element->terminal);  // Ctrl+Shift+V for a terminal
        EXPECT_EQ(lines().back(), "pasted (8 chars)");
        loop.advanceBy(499ms);
        EXPECT_EQ(board.content, plainText("dictated"));
        EXPECT_TRUE(subject.isPasting());
        loop.advanceBy(1ms);
        EXPECT_EQ(board.content, plainText("mine"));
        EXPECT_FALSE(subject.isPasting());
    }
}

TEST_F(TextInjectorTest, MultiItemSnapshotIsRestoredByteForByte) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    PasteboardSnapshot original = {
        {TypedData{"text/plain", "caf\xc3\xa9"}, TypedData{"text/rtf", "{\\rtf1 caf\\'e9}"}},
        {TypedData{"image/png", png}},
        {},  // an item without readable data still counts
    };
    pasteboard.content = original;
    accessibility.element = nullptr;
    injector.insert("text");
    EXPECT_EQ(pasteboard.content, plainText("text"));
    main.advanceBy(540ms);
    EXPECT_EQ(pasteboard.content, original);
}

TEST_F(TextInjectorTest, EmptyOrAbsentClipboardKeepsTheDictatedText) {
    accessibility.element = nullptr;
    pasteboard.content = PasteboardSnapshot{};
    injector.insert("first");
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("first"));

    pasteboard.content = std::nullopt;
    injector.insert("second");
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("second"));
}

TEST_F(TextInjectorTest, FailedKeystrokeIsLoggedAsErrorAndClipboardStillRestored) {
    accessibility.element = nullptr;
    pasteboard.content = plainText("mine");
    keys.fail = true;
    injector.insert("lost");
    main.runAll();
    EXPECT_EQ(lines().back(), "paste shortcut could not be synthesized (4 chars)");
    EXPECT_EQ(pasteboard.content, plainText("mine"));
}

// A second paste that starts before the first one's restore must not leave the first
// dictation on the clipboard: the user's content comes back, and each paste delivers its own text.
TEST_F(TextInjectorTest, OverlappingPastesRestoreTheUsersContent) {
    accessibility.element = nullptr;
    pasteboard.content = plainText("mine");
    injector.insert("one");
    main.advanceBy(100ms);  // pasted, restore still pending
    injector.insert("two");
    main.advanceBy(10ms);
    injector.insert("three");  // also before the first restore
    main.runAll();

    ASSERT_EQ(keys.pastedContent.size(), 3u);
    EXPECT_EQ(keys.pastedContent[0], plainText("one"));
    EXPECT_EQ(keys.pastedContent[1], plainText("two"));
    EXPECT_EQ(keys.pastedContent[2], plainText("three"));
    EXPECT_EQ(pasteboard.content, plainText("mine"));
    EXPECT_FALSE(injector.isPasting());

    // Even a second insert within the first 40 ms cannot swap the text under the first keystroke.
    injector.insert("four");
    main.advanceBy(5ms);
    injector.insert("five");
    main.runAll();
    ASSERT_EQ(keys.pastedContent.size(), 5u);
    EXPECT_EQ(keys.pastedContent[3], plainText("four"));
    EXPECT_EQ(keys.pastedContent[4], plainText("five"));
    EXPECT_EQ(pasteboard.content, plainText("mine"));
}

// Content the user copies while the restore is pending is newer than the snapshot and stays.
TEST_F(TextInjectorTest, CopyDuringRestoreDelayIsNotOverwritten) {
    accessibility.element = nullptr;
    pasteboard.content = plainText("old");
    injector.insert("dictated");
    main.advanceBy(300ms);
    pasteboard.userCopies("copied meanwhile");
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("copied meanwhile"));
    EXPECT_EQ(lines().back(), "clipboard changed during the paste — not restored");

    // With a paste waiting behind: that paste saves and then restores the new copy.
    injector.insert("a");
    main.advanceBy(100ms);
    injector.insert("b");
    main.advanceBy(100ms);
    pasteboard.userCopies("newest");
    main.runAll();
    ASSERT_GE(keys.pastedContent.size(), 3u);
    EXPECT_EQ(keys.pastedContent.back(), plainText("b"));
    EXPECT_EQ(pasteboard.content, plainText("newest"));
}

// A clipboard manager that re-serves the dictated text changes the count but is no copy by
// the user: the user's content still comes back.
TEST_F(TextInjectorTest, ClipboardManagerTakingOverOurTextDoesNotCancelTheRestore) {
    accessibility.element = nullptr;
    pasteboard.content = plainText("mine");
    injector.insert("dictated");
    main.advanceBy(60ms);
    pasteboard.userCopies("dictated");
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("mine"));
}

TEST_F(TextInjectorTest, DestroyedInjectorRestoresAtOnceAndLeavesNoTimerBehind) {
    accessibility.element = nullptr;
    pasteboard.content = plainText("mine");
    {
        TextInjector shortLived(accessibility, pasteboard, keys, main);
        shortLived.insert("x");
        main.advanceBy(20ms);
    }
    EXPECT_EQ(pasteboard.content, plainText("mine"));
    main.runAll();
    EXPECT_TRUE(keys.pastedContent.empty());

    // A copy made by the user in the meantime is left alone.
    {
        TextInjector shortLived(accessibility, pasteboard, keys, main);
        shortLived.insert("y");
        main.advanceBy(100ms);
        pasteboard.userCopies("newer");
    }
    main.runAll();
    EXPECT_EQ(pasteboard.content, plainText("newer"));
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
