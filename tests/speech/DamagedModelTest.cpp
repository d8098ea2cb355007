#include <gtest/gtest.h>

#include <random>

#include "Gguf.h"
#include "speech/ModelStore.h"
#include "speech/TranscribeSession.h"
#include "speech/TestRuntime.h"
#include "speech/TranscribeError.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

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
