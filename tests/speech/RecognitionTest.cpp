#include <gtest/gtest.h>

#include <cstring>

#include "Gguf.h"
#include "SphinxModel.h"
#include "base/ManualExecutor.h"
#include "speech/NemotronEngine.h"
#include "speech/TestRuntime.h"
#include "speech/TranscribeError.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

// The real runtime with the PocketSphinx English model packed into a GGUF file.
TEST(Recognition, GoForwardThroughTheEngineInCaptureSizedChunks) {
    test::TempDir dir;
    const auto model = dir / "en-us.gguf";
    std::string error;
    ASSERT_TRUE(transcribe::sphinx::pack("/usr/share/pocketsphinx/model/en-us", model.string(), "", error)) << error;

    const std::string raw = test::readFile("/usr/share/pocketsphinx/test/data/goforward.raw");
    ASSERT_GT(raw.size(), 32000u);
    ::setenv("LANG", "en_US.UTF-8", 1);
    auto engine = makeNemotronEngineForModelFile(model);

    ManualExecutor main;
    std::optional<Result<std::shared_ptr<TranscriptionEngine::ChunkStream>>> started;
    engine->start({main, [&](auto r) { started = std::move(r); }});
    ASSERT_TRUE(main.runUntil([&] { return started.has_value(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(started->ok()) << describeError(started->error());
    std::vector<TranscriptionChunk> chunks;
    bool ended = false;
    started->value()->subscribe(main, [&](TranscriptionChunk c) { chunks.push_back(c); },
                                [&](std::exception_ptr e) { ended = e == nullptr; });

    // Chunks as capture delivers them: 683 samples of 16 kHz mono float.
    const std::size_t total = raw.size() / 2;
    for (std::size_t pos = 0; pos < total; pos += 683) {
        const auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(683, total - pos));
        auto b = std::make_shared<AudioBuffer>(NemotronEngine::targetFormat, frames);
        b->setFrameLength(frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            std::int16_t v;
            std::memcpy(&v, raw.data() + 2 * (pos + i), 2);
            b->floatData(0)[i] = v / 32768.0f;
        }
        bool fed = false;
        engine->feed({b}, {main, [&] { fed = true; }});
        ASSERT_TRUE(main.runUntil([&] { return fed; }));
    }
    bool finished = false;
    engine->finish({main, [&] { finished = true; }});
    ASSERT_TRUE(main.runUntil([&] { return finished && ended; }));

    ASSERT_FALSE(chunks.empty());
    EXPECT_TRUE(chunks.back().isFinal);
    EXPECT_EQ(chunks.back().text, "go forward ten meters");
    // Interim results grow towards the final text.
    const bool sawPartial = std::any_of(chunks.begin(), chunks.end() - 1, [](const TranscriptionChunk& c) {
        return !c.isFinal && !c.text.empty() && c.text != "go forward ten meters";
    });
    EXPECT_TRUE(sawPartial);
}

}  // namespace
}  // namespace zarn

namespace zarn {
namespace {

TEST(RealRuntime, ForeignArchitectureAndForeignLanguage) {
    test::TempDir dir;
    transcribe::gguf::Writer other;
    other.addString("general.architecture", "nemotron_asr");
    other.addBytes("encoder.weight", {1, 2, 3, 4});
    std::string error;
    ASSERT_TRUE(other.write((dir / "other.gguf").string(), error));
    try {
        TranscribeSession::open((dir / "other.gguf").string(), "en-US");
        FAIL() << "no error";
    } catch (const TranscribeError& e) {
        EXPECT_EQ(e.status(), 5);
        EXPECT_EQ(e.errorDescription(),
                  "opening model at " + (dir / "other.gguf").string() + ": unsupported model architecture \"nemotron_asr\"");
    }

    // An English model asked for Russian starts its streams without a language.
    ASSERT_TRUE(transcribe::sphinx::pack("/usr/share/pocketsphinx/model/en-us", (dir / "en.gguf").string(), "", error));
    auto session = TranscribeSession::open((dir / "en.gguf").string(), "ru-RU");
    session->beginStreamAndWait();
    EXPECT_TRUE(session->languageRejected());
    EXPECT_EQ(session->feedAndWait(std::vector<float>(1600, 0.0f)).combined(), "");
    EXPECT_EQ(session->finalizeStreamAndWait().combined(), "");
}

}  // namespace
}  // namespace zarn
