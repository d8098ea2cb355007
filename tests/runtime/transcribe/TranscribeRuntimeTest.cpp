#include "transcribe.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Gguf.h"
#include "SphinxModel.h"
#include "support/TempDir.h"

namespace {

using zarn::test::TempDir;

const char* kModelFolder = "/usr/share/pocketsphinx/model/en-us";
const char* kGoForward = "/usr/share/pocketsphinx/test/data/goforward.raw";

std::vector<float> readRawAsFloat(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::int16_t v;
        std::memcpy(&v, bytes.data() + 2 * i, 2);
        samples[i] = v / 32768.0f;
    }
    return samples;
}

std::string text(const char* p, std::uint64_t n) { return p && n ? std::string(p, n) : std::string(); }

class TranscribeRuntime : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        std::string error;
        ASSERT_TRUE(transcribe::sphinx::pack(kModelFolder, model(), "", error)) << error;
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::string model() { return (dir_->path() / "en-us.gguf").string(); }

    transcribe_session* open(const std::string& path, transcribe_status& status) {
        transcribe_model_load_params load{};
        transcribe_session_params sp{};
        transcribe_model_load_params_init(&load);
        transcribe_session_params_init(&sp);
        transcribe_session* session = nullptr;
        status = transcribe_open(path.c_str(), &load, &sp, &session);
        return session;
    }
    transcribe_status begin(transcribe_session* s, const char* language) {
        transcribe_run_params run{};
        transcribe_stream_params stream{};
        transcribe_run_params_init(&run);
        transcribe_stream_params_init(&stream);
        run.language = language;
        return transcribe_stream_begin(s, &run, &stream);
    }
    static TempDir* dir_;
};
TempDir* TranscribeRuntime::dir_ = nullptr;

TEST_F(TranscribeRuntime, StreamsGoForwardWithTentativeThenCommittedText) {
    transcribe_status status;
    transcribe_session* s = open(model(), status);
    ASSERT_EQ(status, TRANSCRIBE_OK) << transcribe_status_string(status);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(begin(s, "en-US"), TRANSCRIBE_OK);

    const auto audio = readRawAsFloat(kGoForward);
    bool sawTentative = false;
    for (std::size_t pos = 0; pos < audio.size(); pos += 1600) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(1600, audio.size() - pos));
        ASSERT_EQ(transcribe_stream_feed(s, audio.data() + pos, n, nullptr), TRANSCRIBE_OK);
        transcribe_stream_text t{};
        transcribe_stream_text_init(&t);
        ASSERT_EQ(transcribe_stream_get_text(s, &t), TRANSCRIBE_OK);
        if (t.tentative_len > 0) sawTentative = true;
    }
    EXPECT_TRUE(sawTentative);
    transcribe_stream_text t{};
    transcribe_stream_text_init(&t);
    ASSERT_EQ(transcribe_stream_finalize(s, &t), TRANSCRIBE_OK);
    EXPECT_EQ(text(t.committed, t.committed_len), "go forward ten meters ");
    EXPECT_EQ(text(t.tentative, t.tentative_len), "");
    EXPECT_EQ(t.n_utterances, 1u);

    // Feeding after the end needs a new stream; the next stream starts empty.
    EXPECT_EQ(transcribe_stream_feed(s, audio.data(), 10, nullptr), TRANSCRIBE_NO_STREAM);
    ASSERT_EQ(begin(s, nullptr), TRANSCRIBE_OK);
    ASSERT_EQ(transcribe_stream_feed(s, nullptr, 0, &t), TRANSCRIBE_OK);
    EXPECT_EQ(t.committed_len, 0u);
    EXPECT_EQ(transcribe_stream_reset(s), TRANSCRIBE_OK);
    EXPECT_EQ(transcribe_stream_finalize(s, nullptr), TRANSCRIBE_NO_STREAM);
    transcribe_session_free(s);
}

TEST_F(TranscribeRuntime, LanguageOfAnotherModelIsRefusedWithStatus10) {
    transcribe_status status;
    transcribe_session* s = open(model(), status);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(begin(s, "fr-FR"), TRANSCRIBE_UNSUPPORTED_LANGUAGE);
    EXPECT_NE(std::strstr(transcribe_status_string(10), "fr-FR"), nullptr);
    EXPECT_EQ(begin(s, "EN_gb"), TRANSCRIBE_OK);
    EXPECT_EQ(begin(s, "en"), TRANSCRIBE_OK);
    EXPECT_EQ(begin(s, ""), TRANSCRIBE_UNSUPPORTED_LANGUAGE);
    transcribe_session_free(s);
}

TEST_F(TranscribeRuntime, BadArgumentsGiveStatusesNotCrashes) {
    transcribe_status status;
    EXPECT_EQ(transcribe_open(nullptr, nullptr, nullptr, nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    transcribe_session* s = open(model(), status);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(transcribe_stream_begin(nullptr, nullptr, nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_feed(s, nullptr, 5, nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    float one = 0;
    EXPECT_EQ(transcribe_stream_feed(s, &one, -1, nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_get_text(s, nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_reset(nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    // Records their *_init did not size, and a session slot already holding one.
    transcribe_model_load_params load{};
    transcribe_run_params run{};
    transcribe_stream_params stream{};
    transcribe_stream_text text{};
    transcribe_session* other = nullptr;
    EXPECT_EQ(transcribe_open(model().c_str(), &load, nullptr, &other), TRANSCRIBE_INVALID_ARGUMENT);
    other = s;
    EXPECT_EQ(transcribe_open(model().c_str(), nullptr, nullptr, &other), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_begin(s, &run, nullptr), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_begin(s, nullptr, &stream), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_get_text(s, &text), TRANSCRIBE_INVALID_ARGUMENT);
    ASSERT_EQ(transcribe_stream_begin(s, nullptr, nullptr), TRANSCRIBE_OK);
    EXPECT_EQ(transcribe_stream_feed(s, &one, 1, &text), TRANSCRIBE_INVALID_ARGUMENT);
    EXPECT_EQ(transcribe_stream_finalize(s, &text), TRANSCRIBE_INVALID_ARGUMENT);
    transcribe_session_free(s);
    transcribe_session_free(nullptr);
    for (transcribe_status code : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 99, INT_MIN, INT_MAX}) {
        ASSERT_NE(transcribe_status_string(code), nullptr) << code;
        EXPECT_GT(std::strlen(transcribe_status_string(code)), 0u) << code;
    }
    EXPECT_EQ(std::string(transcribe_version()).rfind("transcribe " + std::to_string(TRANSCRIBE_VERSION_MAJOR) + ".", 0), 0u);
    EXPECT_EQ(transcribe_init_backends_default(), TRANSCRIBE_OK);
}

TEST_F(TranscribeRuntime, DamagedAndForeignModelFilesFailWithTheirStatus) {
    const auto& dir = dir_->path();
    const std::string whole = zarn::test::readFile(model());
    zarn::test::writeFile(dir / "cut.gguf", whole.substr(0, whole.size() - 1000));  // last tensor outside the file
    zarn::test::writeFile(dir / "empty.gguf", "");
    const auto write = [&](const char* name, const char* architecture, const char* tensor) {
        transcribe::gguf::Writer writer;
        if (architecture) writer.addString("general.architecture", architecture);
        writer.addBytes(tensor, {0, 1, 2, 3});
        std::string error;
        EXPECT_TRUE(writer.write((dir / name).string(), error)) << error;
    };
    write("other.gguf", "nemotron_asr", "weights");
    write("noarch.gguf", nullptr, "weights");
    write("broken.gguf", "pocketsphinx", "hmm/mdef");  // pieces missing
    const struct {
        std::string file;
        transcribe_status status;
        const char* text;
    } cases[] = {
        {"absent.gguf", TRANSCRIBE_CANNOT_READ_MODEL, "cannot read model file"},
        {"", TRANSCRIBE_CANNOT_READ_MODEL, "is a folder"},
        {"empty.gguf", TRANSCRIBE_INVALID_MODEL, "not a GGUF file"},
        {"cut.gguf", TRANSCRIBE_INVALID_MODEL, "outside the file"},
        {"other.gguf", TRANSCRIBE_UNSUPPORTED_ARCHITECTURE, "unsupported model architecture \"nemotron_asr\""},
        {"noarch.gguf", TRANSCRIBE_INVALID_MODEL, "no general.architecture"},
        {"broken.gguf", TRANSCRIBE_MODEL_LOAD_FAILED, "model could not be loaded"},
    };
    for (const auto& c : cases) {
        transcribe_status status;
        EXPECT_EQ(open((dir / c.file).string(), status), nullptr) << c.file;
        EXPECT_EQ(status, c.status) << c.file;
        EXPECT_NE(std::strstr(transcribe_status_string(status), c.text), nullptr) << transcribe_status_string(status);
    }
}

}  // namespace
