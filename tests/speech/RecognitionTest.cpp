#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "Gguf.h"
#include "SphinxModel.h"
#include "base/ManualExecutor.h"
#include "speech/ModelStore.h"
#include "speech/NemotronEngine.h"
#include "speech/TestRuntime.h"
#include "speech/TranscribeError.h"
#include "support/ScopedEnv.h"
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

// Random damage to a packed model ends in a clear error or a working load, never in the end
// of the process, and leaves no unpacked files behind. ZARN_DAMAGE_VARIANTS=200 runs longer.
TEST(RealRuntime, DamagedModelsAreRefusedBeforeTheDecoderSeesThem) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    test::ScopedEnv env;
    env.set("TMPDIR", (dir / "tmp").c_str());
    fs::create_directory(dir / "tmp");
    const std::string model = test::readFile(ModelArtifact::pinned().downloadURL.substr(7));
    const auto openError = [&](const std::string& bytes) -> std::string {
        test::writeFile(dir / "m.gguf", bytes);
        try {
            TranscribeSession::open((dir / "m.gguf").string(), "en-US");
            return "";
        } catch (const TranscribeError& e) {
            return e.errorDescription();
        }
    };
    const char* variants = std::getenv("ZARN_DAMAGE_VARIANTS");
    const int n = variants ? std::atoi(variants) : 20;
    std::mt19937_64 random(20261207);
    int pieceErrors = 0;
    for (int i = 0; i < n; ++i) {
        std::string bytes = model;
        const std::size_t at = random() % bytes.size();
        if (i % 3 == 0) {
            bytes.resize(at);
        } else {
            for (std::size_t k = 0, count = 1 + random() % (i % 3 == 1 ? 8 : 4096); k < count && at + k < bytes.size(); ++k) {
                bytes[at + k] = static_cast<char>(i % 3 == 1 ? random() : 0);
            }
        }
        const std::string error = openError(bytes);
        EXPECT_TRUE(error.empty() || error.starts_with("opening model at ")) << error;
        pieceErrors += error.find(" is damaged (") != std::string::npos;
        EXPECT_TRUE(fs::is_empty(dir / "tmp")) << i;
    }
    EXPECT_GT(pieceErrors, n / 3);

    // A model packed before pieces had digests: asked to be fetched or packed again.
    std::string error;
    const auto file = transcribe::gguf::parse(reinterpret_cast<const std::uint8_t*>(model.data()), model.size(), error);
    ASSERT_TRUE(file) << error;
    transcribe::gguf::Writer old;
    for (const auto& [key, value] : file->metadata) {
        if (key.starts_with("pocketsphinx.sha256.") || key == "general.alignment") continue;
        if (value.type == transcribe::gguf::ValueType::U32) old.addU32(std::string(key), static_cast<std::uint32_t>(value.u));
        if (value.type == transcribe::gguf::ValueType::String) old.addString(std::string(key), std::string(value.str));
    }
    for (const auto& t : file->tensors) old.addBytes(std::string(t.name), {t.data, t.data + *t.byteSize});
    ASSERT_TRUE(old.write((dir / "old.gguf").string(), error)) << error;
    EXPECT_NE(openError(test::readFile(dir / "old.gguf")).find("“zarn model download”"), std::string::npos);
}

}  // namespace
}  // namespace zarn
