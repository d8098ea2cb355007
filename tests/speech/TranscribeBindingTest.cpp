#include <gtest/gtest.h>

#include "base/ManualExecutor.h"
#include "speech/TranscribeError.h"
#include "speech/TranscribeSession.h"
#include "speech/FakeRuntime.h"

namespace zarn {
namespace {

using test::FakeRuntime;

// The error a call throws, as "status: description"; "no error" when it returns.
template <class F>
std::string errorOf(F call) {
    try {
        call();
    } catch (const TranscribeError& e) {
        return std::to_string(e.status()) + ": " + e.errorDescription();
    }
    return "no error";
}

class TranscribeBinding : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FakeRuntime::loaded()) << "the fake runtime must be loaded";
        FakeRuntime::reset();
    }
    void TearDown() override { FakeRuntime::reset(); }
};

// The fake refuses records its *_init function did not size.
TEST_F(TranscribeBinding, StreamRoundTripUsesInitialisedRecordsAndNullExtras) {
    auto session = TranscribeSession::open("/models/m.gguf", "en-US");
    EXPECT_EQ(FakeRuntime::calls("init"), 1);
    session->beginStreamAndWait();
    EXPECT_EQ(FakeRuntime::language(0), "en-US");

    FakeRuntime::setText("go forward ", "ten me");
    const StreamText text = session->feedAndWait({0.5f, -0.25f, 0.0f});
    EXPECT_EQ(text, (StreamText{"go forward ", "ten me"}));
    EXPECT_EQ(text.combined(), "go forward ten me");
    ASSERT_EQ(FakeRuntime::fedCount(), 3u);
    EXPECT_EQ(FakeRuntime::fedSample(1), -0.25f);

    FakeRuntime::setText("go forward ten meters\n", "");
    EXPECT_EQ(session->finalizeStreamAndWait().combined(), "go forward ten meters");
    EXPECT_TRUE(FakeRuntime::extraArgumentsNull());

    // The same through the replies, answered on the caller's executor.
    ManualExecutor main;
    std::optional<Result<StreamText>> answer;
    session->feed({}, Reply<Result<StreamText>>(main, [&](Result<StreamText> r) { answer = std::move(r); }));
    ASSERT_TRUE(main.runUntil([&] { return answer.has_value(); }));
    ASSERT_TRUE(answer->ok());
    EXPECT_EQ(answer->value().committed, "go forward ten meters\n");
}

TEST_F(TranscribeBinding, EmptyFeedMakesNoFeedCallButReadsTheText) {
    auto session = TranscribeSession::open("m.gguf", std::nullopt);
    session->beginStreamAndWait();
    EXPECT_EQ(FakeRuntime::language(0), "(none)");
    FakeRuntime::setText("hello", "");
    EXPECT_EQ(session->feedAndWait({}).committed, "hello");
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    EXPECT_EQ(FakeRuntime::calls("get_text"), 1);
}

TEST_F(TranscribeBinding, RefusedLanguageFallsBackOnceAndForAll) {
    auto session = TranscribeSession::open("m.gguf", "ru-RU");
    FakeRuntime::setStatus("begin", 10);
    session->beginStreamAndWait();
    EXPECT_EQ(FakeRuntime::calls("begin"), 2);
    EXPECT_EQ(FakeRuntime::language(0), "ru-RU");
    EXPECT_EQ(FakeRuntime::language(1), "(none)");
    EXPECT_TRUE(session->languageRejected());
    session->beginStreamAndWait();
    EXPECT_EQ(FakeRuntime::calls("begin"), 3);
    EXPECT_EQ(FakeRuntime::language(2), "(none)");
}

TEST_F(TranscribeBinding, OtherRefusalsAreThrownAndKeepTheLanguage) {
    auto session = TranscribeSession::open("m.gguf", "en-US");
    FakeRuntime::setStatus("begin", 4);
    EXPECT_EQ(errorOf([&] { session->beginStreamAndWait(); }), "4: beginning stream: fake error");
    EXPECT_EQ(FakeRuntime::calls("begin"), 1);
    EXPECT_FALSE(session->languageRejected());
    session->beginStreamAndWait();
    EXPECT_EQ(FakeRuntime::language(1), "en-US");
}

TEST_F(TranscribeBinding, TextPiecesThatAreEmptyNullOrNotUtf8GiveEmptyStrings) {
    auto session = TranscribeSession::open("m.gguf", std::nullopt);
    session->beginStreamAndWait();
    FakeRuntime::setText("abc", 3, "tentative", 0);  // pointer set, length 0
    EXPECT_EQ(session->feedAndWait({}), (StreamText{"abc", ""}));
    FakeRuntime::setText(nullptr, 12, "x", 1);  // null pointer with a length
    EXPECT_EQ(session->feedAndWait({}), (StreamText{"", "x"}));
    FakeRuntime::setText("ok \xC3\xA9t\xC3\xA9", 8, "bad \xC3\x28 tail", 11);
    EXPECT_EQ(session->feedAndWait({}), (StreamText{"ok \xC3\xA9t\xC3\xA9", ""}));
    FakeRuntime::setText("\xFF", 1, "\xE2\x82", 2);  // stray byte, cut sequence
    EXPECT_EQ(session->feedAndWait({}), (StreamText{"", ""}));
}

TEST_F(TranscribeBinding, CombinedJoinsWithoutSeparatorAndTrims) {
    EXPECT_EQ((StreamText{"hello ", "world\n"}).combined(), "hello world");
    EXPECT_EQ((StreamText{"", " "}).combined(), "");
    EXPECT_EQ((StreamText{"a", "b"}).combined(), "ab");
    EXPECT_EQ((StreamText{"\u00a0x\u2028", ""}).combined(), "x");
}

TEST_F(TranscribeBinding, BackendsStartOnceAndAFailedStartIsRetried) {
    FakeRuntime::setStatus("init", 8);
    EXPECT_EQ(errorOf([] { TranscribeSession::open("m.gguf", std::nullopt); }),
              "8: initializing transcribe.cpp backends: fake error");
    EXPECT_EQ(FakeRuntime::calls("open"), 0);
    auto first = TranscribeSession::open("m.gguf", std::nullopt);
    auto second = TranscribeSession::open("m.gguf", std::nullopt);
    EXPECT_EQ(FakeRuntime::calls("init"), 2);
    EXPECT_EQ(FakeRuntime::liveSessions(), 2);
}

TEST_F(TranscribeBinding, OpenFailuresNameTheStep) {
    FakeRuntime::setStatus("open", 3);
    EXPECT_EQ(errorOf([] { TranscribeSession::open("/no/such.gguf", std::nullopt); }),
              "3: opening model at /no/such.gguf: fake error");
    FakeRuntime::openGivesNoSession(true);
    EXPECT_EQ(errorOf([] { TranscribeSession::open("m.gguf", std::nullopt); }),
              "-1: transcribe_open returned no session: fake failure");
    EXPECT_EQ(FakeRuntime::liveSessions(), 0);
    EXPECT_EQ(FakeRuntime::freedSessions(), 0);
}

TEST_F(TranscribeBinding, FailedCallsLeaveTheSessionUsableAndItIsFreedOnce) {
    {
        auto session = TranscribeSession::open("m.gguf", std::nullopt);
        auto copy = session;
        session->beginStreamAndWait();
        FakeRuntime::setStatus("feed", 9);
        EXPECT_EQ(errorOf([&] { session->feedAndWait({1.0f}); }), "9: feeding audio: fake error");
        FakeRuntime::setStatus("get_text", 9);
        EXPECT_EQ(errorOf([&] { session->feedAndWait({}); }), "9: reading stream text: fake error");
        FakeRuntime::setStatus("finalize", 9);
        EXPECT_EQ(errorOf([&] { session->finalizeStreamAndWait(); }), "9: finalizing stream: fake error");
        // The reset's status is not looked at.
        FakeRuntime::setStatus("reset", 9);
        session->resetStreamAndWait();
        FakeRuntime::setText("fine", "");
        session->beginStreamAndWait();
        EXPECT_EQ(session->feedAndWait({0.1f}).committed, "fine");
        session.reset();
        EXPECT_EQ(FakeRuntime::freedSessions(), 0);
    }
    EXPECT_EQ(FakeRuntime::freedSessions(), 1);
    EXPECT_EQ(FakeRuntime::liveSessions(), 0);
}

TEST_F(TranscribeBinding, CheckPassesZeroAndThrowsTheRest) {
    EXPECT_NO_THROW(TranscribeError::check(0, "x"));
    const TranscribeError e(-1, "model download is 5 bytes, expected 6");
    EXPECT_EQ(e.context(), "model download is 5 bytes, expected 6");
    EXPECT_STREQ(e.what(), "model download is 5 bytes, expected 6: fake failure");
    EXPECT_EQ(errorOf([] { TranscribeError::check(-1, "x"); }), "-1: x: fake failure");
}

}  // namespace
}  // namespace zarn
