#include <gtest/gtest.h>

#include "base/ManualExecutor.h"
#include "speech/FakeRuntime.h"
#include "speech/NemotronEngine.h"
#include "speech/TranscribeError.h"
#include "support/EngineDriver.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestAudio.h"

namespace zarn {
namespace {

using test::constantAudio;
using test::FakeRuntime;
using Chunks = std::vector<TranscriptionChunk>;
const AudioFormat& kTarget = NemotronEngine::targetFormat;

// Engine, model holder and session all on the test's executor: virtual time, no threads.
class NemotronEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FakeRuntime::loaded());
        FakeRuntime::reset();
        test::writeFile(dir_ / "model.gguf", "model");
        models_ = NemotronModels::forModelFile(dir_ / "model.gguf", "en-US", NemotronModels::defaultOpener(onMain()),
                                               onMain());
    }
    std::shared_ptr<Executor> onMain() { return std::shared_ptr<Executor>(std::shared_ptr<Executor>(), &main_); }
    std::shared_ptr<NemotronEngine> engine() { return std::make_shared<NemotronEngine>(models_, onMain()); }
    test::EngineDriver drive(NemotronEngine& engine) { return test::EngineDriver(engine, main_); }

    test::TempDir dir_;
    ManualExecutor main_;
    std::shared_ptr<NemotronModels> models_;
    test::LogCapture log_;
};

TEST_F(NemotronEngineTest, DictationYieldsWholeTextPerChunkThenTheFinalText) {
    auto e = engine();
    auto d = drive(*e);
    EXPECT_EQ(d.preferredFormat(), (AudioFormat{16000, 1, SampleType::float32, false}));
    ASSERT_EQ(d.start(), nullptr);
    EXPECT_EQ(FakeRuntime::language(0), "en-US");
    FakeRuntime::setText("go ", "forward");
    d.feed(constantAudio(kTarget, 320, {0.5f}));
    FakeRuntime::setText("go forward ", "ten\n");
    d.feed(constantAudio(kTarget, 320));
    FakeRuntime::setText("go forward ten meters ", "");
    d.finish();
    EXPECT_EQ(d.chunks, (Chunks{{"go forward", false}, {"go forward ten", false}, {"go forward ten meters", true}}));
    EXPECT_TRUE(d.ended);
    EXPECT_EQ(d.error, nullptr);
    // The fast path hands the samples over untouched, with no converter.
    ASSERT_EQ(FakeRuntime::fedCount(), 640u);
    EXPECT_EQ(FakeRuntime::fedSample(0), 0.5f);
    EXPECT_EQ(FakeRuntime::fedSample(639), 0.25f);
    EXPECT_EQ(e->convertersMade(), 0u);
}

TEST_F(NemotronEngineTest, ChunksOutsideADictationAndEmptyBuffersAreDropped) {
    auto e = engine();
    auto d = drive(*e);
    d.feed(constantAudio(kTarget, 160));
    EXPECT_EQ(FakeRuntime::calls("open"), 0);
    d.start();
    d.feedAll({constantAudio(kTarget, 0), nullptr});
    d.finish();
    d.feed(constantAudio(kTarget, 160));
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    EXPECT_EQ(d.chunks, (Chunks{{"", true}}));  // only the final text
    d.finish();  // a second finish has nothing to do
    EXPECT_EQ(FakeRuntime::calls("finalize"), 1);
}

// One converter per input format, for the latest one; what it makes reaches the runtime.
TEST_F(NemotronEngineTest, ConverterIsCachedPerInputFormat) {
    auto e = engine();
    auto d = drive(*e);
    d.start();
    const AudioFormat f44{44100, 1, SampleType::float32, false}, f48{48000, 2, SampleType::int16, true};
    d.feedAll({constantAudio(f44, 4410), constantAudio(f44, 4410)});
    EXPECT_EQ(e->convertersMade(), 1u);
    d.feedAll({constantAudio(f48, 4800), constantAudio(f44, 4410), constantAudio(f48, 4800)});
    EXPECT_EQ(e->convertersMade(), 4u);
    d.feed(constantAudio({16000, 1, SampleType::int16, false}, 1600, {0.5f}));  // 16 kHz mono, but not float
    EXPECT_EQ(e->convertersMade(), 5u);
    EXPECT_NEAR(FakeRuntime::fedSample(FakeRuntime::fedCount() - 1), 0.5f, 0.05f);
}

// Audio that cannot be converted and a refused feed are logged; the dictation goes on.
TEST_F(NemotronEngineTest, FeedFailuresAreLoggedAndTheDictationGoesOn) {
    auto e = engine();
    auto d = drive(*e);
    d.start();
    d.feed(constantAudio({0, 1, SampleType::float32, false}, 100));
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    EXPECT_TRUE(log_.contains("Nemotron: no converter from 0 Hz"));
    FakeRuntime::setStatus("feed", 9);
    d.feed(constantAudio(kTarget, 160));
    EXPECT_TRUE(d.chunks.empty());
    EXPECT_TRUE(log_.contains("Nemotron feed failed: <private>"));
    FakeRuntime::setText("still here", "");
    d.feed(constantAudio(kTarget, 160));
    EXPECT_EQ(d.chunks, (Chunks{{"still here", false}}));
    EXPECT_FALSE(d.ended);
}

TEST_F(NemotronEngineTest, FailedFinalizeResetsTheSessionAndEndsTheStreamWithTheError) {
    auto e = engine();
    auto d = drive(*e);
    d.start();
    FakeRuntime::setStatus("finalize", 9);
    d.finish();
    EXPECT_TRUE(d.chunks.empty());
    ASSERT_TRUE(d.ended);
    EXPECT_EQ(describeError(d.error), "finalizing stream: fake error");
    EXPECT_EQ(FakeRuntime::calls("reset"), 1);
    // The shared session can begin afresh.
    auto next = engine();
    auto again = drive(*next);
    again.start();
    again.finish();
    EXPECT_TRUE(again.ended);
    EXPECT_EQ(again.error, nullptr);
}

// The model loads once for every engine; a failed load, ahead or not, is tried again.
TEST_F(NemotronEngineTest, ModelLoadsOnceAndAFailedLoadIsRetried) {
    FakeRuntime::setStatus("open", 6, 2);
    models_->preload();  // fails quietly
    std::optional<Result<std::shared_ptr<TranscribeSession>>> session;
    models_->session({main_, [&](auto r) { session = std::move(r); }});
    main_.runUntilIdle();
    EXPECT_THROW(session->value(), TranscribeError);  // tries again, fails again
    EXPECT_EQ(FakeRuntime::calls("open"), 2);
    for (int i = 0; i < 3; ++i) {
        auto e = engine();
        auto d = drive(*e);
        d.start();
        d.finish();
    }
    EXPECT_EQ(FakeRuntime::calls("open"), 3);
    EXPECT_EQ(FakeRuntime::calls("begin"), 3);
    // "Nemotron: ready in 0.0s": the seconds are public, their value varies.
    const auto lines = log_.messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Nemotron: loading model…"), 3);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("Nemotron: ready in ") && l.find('<') == std::string::npos; }),
              1);
}

TEST_F(NemotronEngineTest, StartFailsBeforeAnyAudioWhenTheModelIsNotDownloaded) {
    auto models = std::make_shared<NemotronModels>(ModelStore(dir_.path()), "en-US");
    EXPECT_FALSE(models->isDownloaded());
    auto engine = std::make_shared<NemotronEngine>(models, onMain());
    auto d = drive(*engine);
    const auto error = d.start();
    ASSERT_NE(error, nullptr);
    try {
        std::rethrow_exception(error);
    } catch (const TranscriptionError& e) {
        EXPECT_EQ(e.kind(), TranscriptionError::Kind::engineUnavailable);
        EXPECT_EQ(e.errorDescription(),
                  "The Nemotron model isn't downloaded yet — use “Download Nemotron model…” in the menu.");
    }
    EXPECT_EQ(FakeRuntime::calls("open"), 0);
}

TEST_F(NemotronEngineTest, FailedStreamBeginIsThrownAndLaterChunksAreDropped) {
    auto e = engine();
    auto d = drive(*e);
    FakeRuntime::setStatus("begin", 7);
    EXPECT_EQ(describeError(d.start()), "beginning stream: fake error");
    d.feed(constantAudio(kTarget, 160));
    d.finish();
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    EXPECT_EQ(FakeRuntime::calls("finalize"), 0);
}

}  // namespace
}  // namespace zarn
