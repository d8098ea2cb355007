#include "sphinx/StreamingDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace zarn::sphinx {
namespace {

const std::string kModel = "/usr/share/pocketsphinx/model/en-us";
const std::string kGoForward = "/usr/share/pocketsphinx/test/data/goforward.raw";

DecoderConfig englishConfig() {
    DecoderConfig config;
    config.acousticModelDir = kModel + "/en-us";
    config.dictionaryPath = kModel + "/cmudict-en-us.dict";
    config.languageModelPath = kModel + "/en-us.lm.bin";
    return config;
}

std::vector<std::int16_t> readRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                               (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return samples;
}

class StreamingDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        decoder_ = StreamingDecoder::open(englishConfig(), error).release();
        ASSERT_NE(decoder_, nullptr) << error;
        audio_ = new std::vector<std::int16_t>(readRaw(kGoForward));
        ASSERT_GT(audio_->size(), 16000u);
    }
    static void TearDownTestSuite() {
        delete decoder_;
        delete audio_;
    }
    void SetUp() override { decoder_->reset(); }

    static StreamingDecoder* decoder_;
    static std::vector<std::int16_t>* audio_;
};
StreamingDecoder* StreamingDecoderTest::decoder_ = nullptr;
std::vector<std::int16_t>* StreamingDecoderTest::audio_ = nullptr;

// Float chunks, tentative text and the cut at the end: TranscribeRuntime.StreamsGoForward...
TEST_F(StreamingDecoderTest, SilenceBetweenUtterancesCutsAndJoinsWithOneSpace) {
    std::vector<std::int16_t> silence(16000 * 2, 0);
    decoder_->feed(audio_->data(), audio_->size());
    decoder_->feed(silence.data(), silence.size());
    // The pause alone ends the first utterance, before any finalize.
    EXPECT_EQ(decoder_->committedText(), "go forward ten meters");
    EXPECT_EQ(decoder_->tentativeText(), "");
    decoder_->feed(audio_->data(), audio_->size());
    decoder_->finalize();
    EXPECT_EQ(decoder_->committedText(), "go forward ten meters go forward ten meters");
    EXPECT_EQ(decoder_->utteranceCount(), 2u);
}

TEST_F(StreamingDecoderTest, ResetForgetsTextAndTheUtteranceInProgress) {
    decoder_->feed(audio_->data(), audio_->size() / 2);
    decoder_->reset();
    EXPECT_EQ(decoder_->committedText(), "");
    EXPECT_EQ(decoder_->tentativeText(), "");
    decoder_->finalize();
    EXPECT_EQ(decoder_->committedText(), "");
    decoder_->feed(audio_->data(), audio_->size());
    decoder_->finalize();
    EXPECT_EQ(decoder_->committedText(), "go forward ten meters");
}

TEST_F(StreamingDecoderTest, SilenceAndOutOfRangeSamplesCommitNothing) {
    std::vector<float> odd(16000, 0.0f);
    odd[10] = 7.5f;                                    // clamped
    odd[20] = std::numeric_limits<float>::quiet_NaN();  // treated as silence
    decoder_->feed(odd.data(), odd.size());
    decoder_->feed(static_cast<const float*>(nullptr), 100);
    decoder_->finalize();
    EXPECT_EQ(decoder_->committedText(), "");
}

TEST_F(StreamingDecoderTest, AddedWordIsKnownToTheDictionary) {
    EXPECT_EQ(decoder_->lookupWord("zarnwordx"), "");
    EXPECT_TRUE(decoder_->addWord("zarnwordx", "Z AA R N"));
    EXPECT_EQ(decoder_->lookupWord("zarnwordx"), "Z AA R N");
    EXPECT_FALSE(decoder_->addWord("", "Z"));
    EXPECT_EQ(decoder_->lookupWord("forward").empty(), false);
}

TEST(StreamingDecoderOpen, MissingFilesGiveAMessage) {
    const struct {
        void (*damage)(DecoderConfig&);
        const char* named;
    } cases[] = {
        {[](DecoderConfig& c) { c.acousticModelDir = "/nonexistent/model"; }, "/nonexistent/model"},
        {[](DecoderConfig& c) { c.dictionaryPath = "/nonexistent/dict"; }, "dictionary"},
        {[](DecoderConfig& c) { c.extraOptions = {{"-no-such-option", "1"}}; }, ""},
    };
    for (const auto& c : cases) {
        DecoderConfig config = englishConfig();
        c.damage(config);
        std::string error;
        EXPECT_EQ(StreamingDecoder::open(config, error), nullptr) << c.named;
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_FALSE(error.empty());
    }
}

// Files the library gives up on (it would end the process) are an error to the caller, who
// carries on: the process is still here to load the intact model afterwards.
TEST(StreamingDecoderOpen, ModelFilesTheLibraryCannotTakeAreAnError) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    for (const char* damaged : {"mdef", "means", "transition_matrices", "sendump"}) {
        fs::remove_all(dir / "hmm");
        fs::copy(kModel + "/en-us", dir / "hmm");
        test::writeFile(dir / "hmm" / damaged, "not a model file");
        DecoderConfig config = englishConfig();
        config.acousticModelDir = (dir / "hmm").string();
        std::string error;
        EXPECT_EQ(StreamingDecoder::open(config, error), nullptr) << damaged;
        EXPECT_NE(error.find("cannot load the speech model"), std::string::npos) << damaged;
    }
    std::string error;
    EXPECT_NE(StreamingDecoder::open(englishConfig(), error), nullptr) << error;
}

}  // namespace
}  // namespace zarn::sphinx
