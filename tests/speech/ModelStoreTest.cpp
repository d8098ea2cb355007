#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "speech/ModelStore.h"
#include "speech/TestRuntime.h"
#include "speech/TranscribeError.h"
#include "support/FakeHttpServer.h"
#include "support/ScopedEnv.h"
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
        server_ = new test::FakeHttpServer(test::FakeHttpServer::modelHost());
    }
    static void TearDownTestSuite() { delete server_; }
    void SetUp() override { ASSERT_GT(server_->port(), 0) << "test server did not start"; }

    ModelStore store(const std::string& path, std::int64_t size = kBig, DownloadLimits limits = {}) {
        return ModelStore(dir_.path(), {"test-model.gguf", size, sha256Hex(body(size)), server_->url(path)}, limits);
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

    static test::FakeHttpServer* server_;
    test::TempDir dir_;
    std::vector<double> progress_;
};
test::FakeHttpServer* ModelStoreDownload::server_ = nullptr;

TEST_F(ModelStoreDownload, CompleteBodyIsVerifiedInstalledAndReportedInSteps) {
    const ModelStore s = store("/big/model");
    fs::create_directories(s.modelURL().parent_path());
    test::writeFile(s.partialURL(), "leftover from an earlier attempt");
    std::vector<fs::perms> partialModes;
    s.download([&](double f) {
        progress_.push_back(f);
        if (f < 1.0) partialModes.push_back(fs::status(s.partialURL()).permissions());
    });
    EXPECT_EQ(fs::status(s.modelURL().parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(partialModes, std::vector<fs::perms>(3, fs::perms::owner_read | fs::perms::owner_write));
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

// A short body and a wrong one are the store's own errors; the model stays, no partial file.
TEST_F(ModelStoreDownload, WrongSizeOrDigestIsATranscribeErrorThatKeepsTheModel) {
    const std::pair<const char*, std::string> cases[] = {
        {"/big/short", "model download is " + std::to_string(kBig - 1) + " bytes, expected " + std::to_string(kBig)},
        {"/big/wrong", "model checksum mismatch — got " + sha256Hex(body(kBig, 0x55)) + ", expected " + sha256Hex(body(kBig))},
    };
    for (const auto& [path, context] : cases) {
        const ModelStore s = store(path);
        placePreviousModel(s);
        try {
            std::rethrow_exception(download(s));
        } catch (const TranscribeError& e) {
            EXPECT_EQ(e.status(), -1);
            EXPECT_EQ(e.context(), context);
        } catch (...) {
            ADD_FAILURE() << path << " not a TranscribeError: " << describeError(std::current_exception());
        }
        expectUntouchedModelAndNoPartial(s);
    }
    EXPECT_TRUE(std::find(progress_.begin(), progress_.end(), 1.0) == progress_.end());
}

// Each ends in its own error before the body is all taken, keeping the model and no partial file.
TEST_F(ModelStoreDownload, MisbehavingServersAreStoppedWithTheirOwnError) {
    const struct {
        const char* path;
        std::int64_t expected;
        DownloadLimits limits;
        std::string error;
    } cases[] = {
        {"/error", kBig, {}, "model download failed: HTTP 500"},
        {"/nothing-here", kBig, {}, "model download failed: HTTP 404"},
        {"/big/model", kSmall, {}, "model download is more than 300000 bytes, expected 300000: operation failed"},
        {"/trickle", kSmall, {1000, 1}, "model download failed: Operation too slow"},
    };
    for (const auto& c : cases) {
        const ModelStore s = store(c.path, c.expected, c.limits);
        placePreviousModel(s);
        const auto error = download(s);
        ASSERT_NE(error, nullptr) << c.path;
        EXPECT_EQ(describeError(error).rfind(c.error, 0), 0u) << describeError(error);
        expectUntouchedModelAndNoPartial(s);
    }
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
    fs::create_directories(s.modelURL().parent_path());
    test::writeFile(s.partialURL(), "leftover");
    const auto error = download(s);
    EXPECT_FALSE(fs::exists(s.partialURL()));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(describeError(error).rfind("model download failed: ", 0), 0u);
    EXPECT_FALSE(fs::exists(s.modelURL()));
    EXPECT_TRUE(progress_.empty());
}

TEST(ModelStore, InstalledMeansTheExactSizeWithLinksFollowed) {
    test::TempDir dir;
    const ModelStore s(dir.path(), {"m.gguf", 751094240, std::string(64, '0'), "file:///m.gguf"});
    const std::int64_t expectedBytes = s.artifact().expectedBytes;
    EXPECT_EQ(s.modelURL(), dir.path() / "models" / "m.gguf");
    EXPECT_EQ(s.partialURL(), dir.path() / "models" / "m.gguf.partial");
    EXPECT_FALSE(s.isInstalled());
    fs::create_directories(s.modelURL().parent_path());
    // Sparse files: the size is all that is read.
    const auto sized = [](const fs::path& p, std::uintmax_t size) {
        test::writeFile(p, "");
        fs::resize_file(p, size);
    };
    sized(s.modelURL(), expectedBytes - 1);
    EXPECT_FALSE(s.isInstalled());
    sized(s.modelURL(), expectedBytes + 1);
    EXPECT_FALSE(s.isInstalled());
    sized(s.modelURL(), expectedBytes);
    EXPECT_TRUE(s.isInstalled());

    fs::remove(s.modelURL());
    sized(dir / "elsewhere.gguf", expectedBytes);
    fs::create_symlink(dir / "elsewhere.gguf", s.modelURL());
    EXPECT_TRUE(s.isInstalled());
    fs::remove(dir / "elsewhere.gguf");  // now dangling
    EXPECT_FALSE(s.isInstalled());
    fs::remove(s.modelURL());
    fs::create_directory(s.modelURL());
    EXPECT_FALSE(s.isInstalled());
}

// By default the build's own packed model, by a file:// URL, with the size and digest the
// build computed from it; the deployment base replaces the location.
TEST(ModelStore, PinnedArtifactIsTheShippedModelUnlessABaseIsGiven) {
    const ModelArtifact a = ModelArtifact::pinned();
    ASSERT_EQ(a.downloadURL.rfind("file:///", 0), 0u) << a.downloadURL;
    const std::string bytes = test::readFile(a.downloadURL.substr(7));
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), a.expectedBytes);
    EXPECT_EQ(sha256Hex(bytes), a.expectedSHA256);
    EXPECT_EQ(a.shownMegabytes, (a.expectedBytes + 524288) / 1048576);
    test::ScopedEnv env;
    env.set("ZARN_MODEL_BASE_URL", "http://127.0.0.1:8/acme/");
    EXPECT_EQ(ModelArtifact::pinned().downloadURL, "http://127.0.0.1:8/acme/" + a.fileName);
}

TEST(ModelStore, DigestMustMatchExactlyInLowerCase) {
    test::TempDir dir;
    const ModelStore s(dir.path());
    const std::string expected = s.artifact().expectedSHA256;
    EXPECT_NO_THROW(s.checkDigest(expected));
    std::string upper = expected;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    try {
        s.checkDigest(upper);
        FAIL() << "no error";
    } catch (const TranscribeError& e) {
        EXPECT_EQ(e.status(), -1);
        EXPECT_EQ(e.context(), "model checksum mismatch — got " + upper + ", expected " + expected);
        EXPECT_EQ(e.errorDescription(), e.context() + ": operation failed");
    }
}

}  // namespace
}  // namespace zarn
