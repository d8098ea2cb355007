#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "speech/ModelStore.h"
#include "speech/TestRuntime.h"
#include "speech/TestServer.h"
#include "speech/TranscribeError.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kBig = 3 * 1024 * 1024 + 12345;
constexpr std::int64_t kSmall = 300000;

// The same bytes the test server sends.
std::string body(std::int64_t size, int salt = 0) {
    std::string out(static_cast<std::size_t>(size), '\0');
    for (std::int64_t i = 0; i < size; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((((i % 251) * 7 + 3) % 251) ^ salt);
    return out;
}

std::string sha256Hex(const std::string& data) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    std::string hex;
    char piece[3];
    for (unsigned char b : digest) {
        std::snprintf(piece, sizeof piece, "%02x", b);
        hex += piece;
    }
    return hex;
}

class ModelStoreDownload : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            ::unsetenv(name);
        }
        server_ = new test::TestServer();
    }
    static void TearDownTestSuite() { delete server_; }
    void SetUp() override { ASSERT_GT(server_->port(), 0) << "test server did not start"; }

    ModelStore store(const std::string& path, std::int64_t size = kBig) {
        return ModelStore(dir_.path(), {"test-model.gguf", size, sha256Hex(body(size)), server_->url(path)});
    }
    // Downloads, recording progress; returns the error, if any.
    std::exception_ptr download(const ModelStore& s) {
        try {
            s.download([this](double f) { progress_.push_back(f); });
            return nullptr;
        } catch (...) {
            return std::current_exception();
        }
    }
    void expectUntouchedModelAndNoPartial(const ModelStore& s) {
        EXPECT_EQ(test::readFile(s.modelURL()), "previous model");
        EXPECT_FALSE(fs::exists(s.partialURL()));
    }
    void placePreviousModel(const ModelStore& s) {
        fs::create_directories(s.modelURL().parent_path());
        test::writeFile(s.modelURL(), "previous model");
    }

    static test::TestServer* server_;
    test::TempDir dir_;
    std::vector<double> progress_;
};
test::TestServer* ModelStoreDownload::server_ = nullptr;

TEST_F(ModelStoreDownload, CompleteBodyIsVerifiedInstalledAndReportedInSteps) {
    const ModelStore s = store("/big/model");
    fs::create_directories(s.modelURL().parent_path());
    test::writeFile(s.partialURL(), "leftover from an earlier attempt");
    ASSERT_EQ(download(s), nullptr);
    EXPECT_TRUE(s.isInstalled());
    EXPECT_EQ(test::readFile(s.modelURL()), body(kBig));
    EXPECT_FALSE(fs::exists(s.partialURL()));
    // One report per MiB written, then exactly 1.0.
    const double mib = 1024.0 * 1024.0;
    EXPECT_EQ(progress_, (std::vector<double>{mib / kBig, 2 * mib / kBig, 3 * mib / kBig, 1.0}));
}

TEST_F(ModelStoreDownload, MissingContentLengthCountsAgainstTheExpectedSize) {
    const ModelStore s = store("/big/nolength");
    ASSERT_EQ(download(s), nullptr);
    EXPECT_TRUE(s.isInstalled());
    ASSERT_EQ(progress_.size(), 4u);
    EXPECT_DOUBLE_EQ(progress_[0], 1024.0 * 1024.0 / kBig);
    for (std::size_t i = 1; i + 1 < progress_.size(); ++i) EXPECT_GE(progress_[i] - progress_[i - 1], 0.01);
    EXPECT_EQ(progress_.back(), 1.0);
}

TEST_F(ModelStoreDownload, BodyUnderOneMebibyteReportsOnlyTheEnd) {
    const ModelStore s = store("/small/model", kSmall);
    ASSERT_EQ(download(s), nullptr);
    EXPECT_EQ(progress_, (std::vector<double>{1.0}));
    EXPECT_EQ(fs::file_size(s.modelURL()), static_cast<std::uintmax_t>(kSmall));
}

TEST_F(ModelStoreDownload, BodyOneByteShortIsASizeError) {
    const ModelStore s = store("/big/short");
    placePreviousModel(s);
    const auto error = download(s);
    try {
        std::rethrow_exception(error);
    } catch (const TranscribeError& e) {
        EXPECT_EQ(e.status(), -1);
        EXPECT_EQ(e.context(), "model download is " + std::to_string(kBig - 1) + " bytes, expected " + std::to_string(kBig));
    } catch (...) {
        FAIL() << "not a TranscribeError: " << describeError(std::current_exception());
    }
    expectUntouchedModelAndNoPartial(s);
    EXPECT_TRUE(std::find(progress_.begin(), progress_.end(), 1.0) == progress_.end());
}

TEST_F(ModelStoreDownload, RightSizeWithOtherContentIsADigestError) {
    const ModelStore s = store("/big/wrong");
    placePreviousModel(s);
    const auto error = download(s);
    try {
        std::rethrow_exception(error);
    } catch (const TranscribeError& e) {
        EXPECT_EQ(e.status(), -1);
        EXPECT_EQ(e.context(), "model checksum mismatch — got " + sha256Hex(body(kBig, 0x55)) + ", expected " +
                                   sha256Hex(body(kBig)));
    } catch (...) {
        FAIL() << "not a TranscribeError";
    }
    expectUntouchedModelAndNoPartial(s);
}

TEST_F(ModelStoreDownload, ServerErrorPageFailsTheSizeCheck) {
    const ModelStore s = store("/error");
    placePreviousModel(s);
    const auto error = download(s);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(describeError(error).rfind("model download is 13 bytes, expected " + std::to_string(kBig), 0), 0u);
    expectUntouchedModelAndNoPartial(s);
}

TEST_F(ModelStoreDownload, ConnectionResetMidBodyRemovesThePartialFile) {
    const ModelStore s = store("/big/reset");
    placePreviousModel(s);
    const auto error = download(s);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(describeError(error).rfind("model download failed: ", 0), 0u) << describeError(error);
    expectUntouchedModelAndNoPartial(s);
}

TEST_F(ModelStoreDownload, UnreachableHostIsAnError) {
    // A port that was just free: nothing listens there.
    ModelStore s(dir_.path(), {"m.gguf", 10, std::string(64, '0'), "http://127.0.0.1:1/model"});
    const auto error = download(s);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(describeError(error).rfind("model download failed: ", 0), 0u);
    EXPECT_FALSE(fs::exists(s.modelURL()));
    EXPECT_TRUE(progress_.empty());
}

TEST(ModelStore, InstalledMeansTheExactSizeWithLinksFollowed) {
    test::TempDir dir;
    const ModelStore s(dir.path());
    EXPECT_EQ(s.modelURL(), dir.path() / "models" / "nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf");
    EXPECT_EQ(s.partialURL(), dir.path() / "models" / "nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf.partial");
    EXPECT_FALSE(s.isInstalled());
    fs::create_directories(s.modelURL().parent_path());
    // Sparse files: the size is all that is read.
    const auto sized = [](const fs::path& p, std::uintmax_t size) {
        test::writeFile(p, "");
        fs::resize_file(p, size);
    };
    sized(s.modelURL(), ModelStore::expectedBytes - 1);
    EXPECT_FALSE(s.isInstalled());
    sized(s.modelURL(), ModelStore::expectedBytes + 1);
    EXPECT_FALSE(s.isInstalled());
    sized(s.modelURL(), ModelStore::expectedBytes);
    EXPECT_TRUE(s.isInstalled());

    fs::remove(s.modelURL());
    sized(dir / "elsewhere.gguf", ModelStore::expectedBytes);
    fs::create_symlink(dir / "elsewhere.gguf", s.modelURL());
    EXPECT_TRUE(s.isInstalled());
    fs::remove(dir / "elsewhere.gguf");  // now dangling
    EXPECT_FALSE(s.isInstalled());
    fs::remove(s.modelURL());
    fs::create_directory(s.modelURL());
    EXPECT_FALSE(s.isInstalled());
}

TEST(ModelStore, PinnedArtifactAndItsDeploymentBase) {
    ::setenv("ZARN_MODEL_BASE_URL", "http://127.0.0.1:8/acme/", 1);
    const ModelArtifact a = ModelArtifact::pinned();
    ::unsetenv("ZARN_MODEL_BASE_URL");
    EXPECT_EQ(a.fileName, "nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf");
    EXPECT_EQ(a.expectedBytes, 751094240);
    EXPECT_EQ(a.expectedSHA256, "b94545b313b3223fda7b2857a52681da813935c2127643d1e9ff0c23d988089c");
    EXPECT_EQ(a.downloadURL,
              "http://127.0.0.1:8/acme/nemotron-3.5-asr-streaming-0.6b-gguf/resolve/main/"
              "nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf");
    EXPECT_NE(ModelArtifact::pinned().downloadURL.find("/nemotron-3.5-asr-streaming-0.6b-gguf/resolve/main/"),
              std::string::npos);
}

TEST(ModelStore, DigestMustMatchExactlyInLowerCase) {
    test::TempDir dir;
    const ModelStore s(dir.path());
    EXPECT_NO_THROW(s.checkDigest(ModelStore::expectedSHA256));
    std::string upper = ModelStore::expectedSHA256;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    try {
        s.checkDigest(upper);
        FAIL() << "no error";
    } catch (const TranscribeError& e) {
        EXPECT_EQ(e.status(), -1);
        EXPECT_EQ(e.context(), "model checksum mismatch — got " + upper + ", expected " + ModelStore::expectedSHA256);
        EXPECT_EQ(e.errorDescription(), e.context() + ": operation failed");
    }
}

}  // namespace
}  // namespace zarn
