#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "base/Log.h"
#include "base/ManualExecutor.h"
#include "speech/NemotronEngine.h"
#include "speech/FakeRuntime.h"
#include "speech/TranscribeError.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

using test::FakeRuntime;

std::shared_ptr<const AudioBuffer> buffer(AudioFormat format, std::uint32_t frames, float value = 0.25f) {
    auto b = std::make_shared<AudioBuffer>(format, frames);
    b->setFrameLength(frames);
    for (std::size_t plane = 0; plane < b->planeCount(); ++plane) {
        const std::size_t count = static_cast<std::size_t>(frames) * b->stride();
        switch (format.sampleType) {
            case SampleType::float32:
                for (std::size_t i = 0; i < count; ++i) b->floatData(plane)[i] = value;
                break;
            case SampleType::int16:
                for (std::size_t i = 0; i < count; ++i) b->int16Data(plane)[i] = static_cast<std::int16_t>(value * 32768);
                break;
            case SampleType::int32:
                for (std::size_t i = 0; i < count; ++i) b->int32Data(plane)[i] = static_cast<std::int32_t>(value * 2147483648.0);
                break;
        }
    }
    return b;
}

// Collects the engine's results and the speech log.
class NemotronEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FakeRuntime::loaded());
        FakeRuntime::reset();
        test::writeFile(dir_ / "model.gguf", "model");
        models_ = NemotronModels::forModelFile(dir_ / "model.gguf", "en-US", NemotronModels::defaultOpener(onMain()),
                                               onMain());
        Log::setSinkForTesting([this](const Log::Record& r) {
            std::lock_guard lock(logMutex_);
            log_.push_back(r.message);
        });
    }
    void TearDown() override { Log::setSinkForTesting(nullptr); }

    // Engine, model holder and session all on the test's executor: virtual time, no threads.
    std::shared_ptr<Executor> onMain() { return std::shared_ptr<Executor>(std::shared_ptr<Executor>(), &main_); }
    std::shared_ptr<TranscribeSession> session() {
        std::optional<Result<std::shared_ptr<TranscribeSession>>> answer;
        models_->session({main_, [&](auto r) { answer = std::move(r); }});
        main_.runUntilIdle();
        return answer->value();
    }

    std::vector<std::string> log() {
        std::lock_guard lock(logMutex_);
        return log_;
    }
    // "Nemotron: ready in 0.0s": the seconds are public, their value varies.
    static long readyLines(const std::vector<std::string>& lines) {
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("Nemotron: ready in ") && line.ends_with("s") && line.find('<') == std::string::npos;
        });
    }
    std::shared_ptr<TranscriptionEngine::ChunkStream> start(NemotronEngine& engine) {
        std::optional<Result<std::shared_ptr<TranscriptionEngine::ChunkStream>>> answer;
        engine.start({main_, [&](auto r) { answer = std::move(r); }});
        EXPECT_TRUE(main_.runUntil([&] { return answer.has_value(); }));
        if (!answer->ok()) std::rethrow_exception(answer->error());
        auto stream = answer->value();
        stream->subscribe(main_, [this](TranscriptionChunk c) { chunks_.push_back(c); },
                          [this](std::exception_ptr e) {
                              ended_ = true;
                              endError_ = e;
                          });
        return stream;
    }
    void feed(NemotronEngine& engine, std::shared_ptr<const AudioBuffer> b) {
        bool done = false;
        engine.feed({std::move(b)}, {main_, [&] { done = true; }});
        ASSERT_TRUE(main_.runUntil([&] { return done; }));
        main_.runUntilIdle();
    }
    void finish(NemotronEngine& engine) {
        bool done = false;
        engine.finish({main_, [&] { done = true; }});
        ASSERT_TRUE(main_.runUntil([&] { return done; }));
        main_.runUntilIdle();
    }

    test::TempDir dir_;
    ManualExecutor main_;
    std::shared_ptr<NemotronModels> models_;
    std::vector<TranscriptionChunk> chunks_;
    bool ended_ = false;
    std::exception_ptr endError_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

TEST_F(NemotronEngineTest, PrefersSixteenKilohertzMonoFloat) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    std::optional<std::optional<AudioFormat>> format;
    engine->preferredInputFormat({main_, [&](std::optional<AudioFormat> f) { format = f; }});
    ASSERT_TRUE(main_.runUntil([&] { return format.has_value(); }));
    EXPECT_EQ(*format, (AudioFormat{16000, 1, SampleType::float32, false}));
}

TEST_F(NemotronEngineTest, DictationYieldsWholeTextPerChunkThenTheFinalText) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    start(*engine);
    EXPECT_EQ(FakeRuntime::language(0), "en-US");
    FakeRuntime::setText("go ", "forward");
    feed(*engine, buffer(NemotronEngine::targetFormat, 320, 0.5f));
    FakeRuntime::setText("go forward ", "ten\n");
    feed(*engine, buffer(NemotronEngine::targetFormat, 320));
    FakeRuntime::setText("go forward ten meters ", "");
    finish(*engine);
    EXPECT_EQ(chunks_, (std::vector<TranscriptionChunk>{
                           {"go forward", false}, {"go forward ten", false}, {"go forward ten meters", true}}));
    EXPECT_TRUE(ended_);
    EXPECT_EQ(endError_, nullptr);
    // The fast path hands the samples over untouched, with no converter.
    ASSERT_EQ(FakeRuntime::fedCount(), 640u);
    EXPECT_EQ(FakeRuntime::fedSample(0), 0.5f);
    EXPECT_EQ(FakeRuntime::fedSample(639), 0.25f);
    EXPECT_EQ(engine->convertersMade(), 0u);
}

TEST_F(NemotronEngineTest, ChunksOutsideADictationAndEmptyBuffersAreDropped) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    feed(*engine, buffer(NemotronEngine::targetFormat, 160));
    EXPECT_EQ(FakeRuntime::calls("open"), 0);
    start(*engine);
    feed(*engine, buffer(NemotronEngine::targetFormat, 0));
    feed(*engine, nullptr);
    EXPECT_TRUE(chunks_.empty());
    finish(*engine);
    feed(*engine, buffer(NemotronEngine::targetFormat, 160));
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    ASSERT_EQ(chunks_.size(), 1u);  // only the final text
    EXPECT_TRUE(chunks_[0].isFinal);
    // A second finish has nothing to do.
    finish(*engine);
    EXPECT_EQ(FakeRuntime::calls("finalize"), 1);
}

TEST_F(NemotronEngineTest, ConverterIsCachedPerInputFormat) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    start(*engine);
    const AudioFormat f44{44100, 1, SampleType::float32, false};
    const AudioFormat f48{48000, 2, SampleType::float32, false};
    feed(*engine, buffer(f44, 4410));
    feed(*engine, buffer(f44, 4410));
    EXPECT_EQ(engine->convertersMade(), 1u);
    feed(*engine, buffer(f48, 4800));
    feed(*engine, buffer(f44, 4410));
    feed(*engine, buffer(f48, 4800));
    EXPECT_EQ(engine->convertersMade(), 4u);
    // 16 kHz mono in another sample type goes through a converter too.
    feed(*engine, buffer({16000, 1, SampleType::int16, false}, 1600, 0.5f));
    EXPECT_EQ(engine->convertersMade(), 5u);
    // Resampling keeps roughly a third of the frames; nothing is made up.
    const std::size_t fed = FakeRuntime::fedCount();
    EXPECT_GT(fed, 3u * 1400);
    EXPECT_LE(fed, 6u * 1600);
    // A constant 0.5 comes out near 0.5 once the resampler has settled.
    EXPECT_NEAR(FakeRuntime::fedSample(fed - 1), 0.5f, 0.05f);
}

TEST_F(NemotronEngineTest, InterleavedStereoIsMixedToMono) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    start(*engine);
    const AudioFormat stereo{48000, 2, SampleType::int16, true};
    for (int i = 0; i < 5; ++i) {
        auto b = std::make_shared<AudioBuffer>(stereo, 4800);
        b->setFrameLength(4800);
        for (std::uint32_t f = 0; f < 4800; ++f) {
            b->int16Data(0)[2 * f] = static_cast<std::int16_t>(0.4 * 32768);
            b->int16Data(0)[2 * f + 1] = static_cast<std::int16_t>(0.2 * 32768);
        }
        feed(*engine, b);
    }
    EXPECT_EQ(engine->convertersMade(), 1u);
    const std::size_t fed = FakeRuntime::fedCount();
    ASSERT_GT(fed, 7000u);
    EXPECT_NEAR(FakeRuntime::fedSample(fed / 2), 0.3f, 0.01f);
}

TEST_F(NemotronEngineTest, UnconvertibleFormatIsLoggedAndDropped) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    start(*engine);
    feed(*engine, buffer({0, 1, SampleType::float32, false}, 100));
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    EXPECT_TRUE(chunks_.empty());
    const auto lines = log();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("Nemotron: no converter from 0 Hz", 0) == 0; }),
              lines.end());
}

TEST_F(NemotronEngineTest, FailedFeedIsLoggedAndTheDictationGoesOn) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    start(*engine);
    FakeRuntime::setStatus("feed", 9);
    feed(*engine, buffer(NemotronEngine::targetFormat, 160));
    EXPECT_TRUE(chunks_.empty());
    FakeRuntime::setText("still here", "");
    feed(*engine, buffer(NemotronEngine::targetFormat, 160));
    ASSERT_EQ(chunks_.size(), 1u);
    EXPECT_EQ(chunks_[0].text, "still here");
    EXPECT_FALSE(ended_);
    const auto lines = log();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Nemotron feed failed: <private>"), lines.end());
}

TEST_F(NemotronEngineTest, FailedFinalizeResetsTheSessionAndEndsTheStreamWithTheError) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    start(*engine);
    FakeRuntime::setStatus("finalize", 9);
    finish(*engine);
    EXPECT_TRUE(chunks_.empty());
    ASSERT_TRUE(ended_);
    ASSERT_NE(endError_, nullptr);
    EXPECT_EQ(describeError(endError_), "finalizing stream: fake error");
    EXPECT_EQ(FakeRuntime::calls("reset"), 1);
    // The shared session can begin afresh.
    auto next = std::make_shared<NemotronEngine>(models_, onMain());
    ended_ = false;
    start(*next);
    finish(*next);
    EXPECT_TRUE(ended_);
    EXPECT_EQ(endError_, nullptr);
}

TEST_F(NemotronEngineTest, ModelLoadsOnceForEveryEngine) {
    for (int i = 0; i < 3; ++i) {
        auto engine = std::make_shared<NemotronEngine>(models_, onMain());
        start(*engine);
        finish(*engine);
    }
    EXPECT_EQ(FakeRuntime::calls("open"), 1);
    EXPECT_EQ(FakeRuntime::calls("begin"), 3);
    const auto lines = log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Nemotron: loading model…"), 1);
    EXPECT_EQ(readyLines(lines), 1);
}

TEST_F(NemotronEngineTest, PreloadLoadsAheadAndAFailedLoadIsRetried) {
    FakeRuntime::setStatus("open", 6, 2);
    models_->preload();                       // fails quietly
    EXPECT_THROW(session(), TranscribeError);  // tries again, fails again
    EXPECT_EQ(FakeRuntime::calls("open"), 2);
    auto loaded = session();
    EXPECT_EQ(session(), loaded);
    EXPECT_EQ(FakeRuntime::calls("open"), 3);
    const auto lines = log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Nemotron: loading model…"), 3);
    EXPECT_EQ(readyLines(lines), 1);
}

TEST_F(NemotronEngineTest, StartFailsBeforeAnyAudioWhenTheModelIsNotDownloaded) {
    auto models = std::make_shared<NemotronModels>(ModelStore(dir_.path()), "en-US");
    EXPECT_FALSE(models->isDownloaded());
    auto engine = std::make_shared<NemotronEngine>(models, onMain());
    try {
        start(*engine);
        FAIL() << "no error";
    } catch (const TranscriptionError& e) {
        EXPECT_EQ(e.kind(), TranscriptionError::Kind::engineUnavailable);
        EXPECT_EQ(e.errorDescription(),
                  "The Nemotron model isn't downloaded yet — use “Download Nemotron model…” in the menu.");
    }
    EXPECT_EQ(FakeRuntime::calls("open"), 0);
}

TEST_F(NemotronEngineTest, FailedStreamBeginIsThrownAndLaterChunksAreDropped) {
    auto engine = std::make_shared<NemotronEngine>(models_, onMain());
    FakeRuntime::setStatus("begin", 7);
    try {
        start(*engine);
        FAIL() << "no error";
    } catch (const TranscribeError& e) {
        EXPECT_EQ(e.errorDescription(), "beginning stream: fake error");
    }
    feed(*engine, buffer(NemotronEngine::targetFormat, 160));
    finish(*engine);
    EXPECT_EQ(FakeRuntime::calls("feed"), 0);
    EXPECT_EQ(FakeRuntime::calls("finalize"), 0);
}

}  // namespace
}  // namespace zarn
