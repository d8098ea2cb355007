#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "speech/ModelStore.h"
#include "speech/TestRuntime.h"
#include "support/FakeHttpServer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kBig = 3 * 1024 * 1024 + 12345;
constexpr std::int64_t kSmall = 300000;
constexpr double kMiB = 1024.0 * 1024.0;

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

    // `where` is a path on the test server or a whole URL.
    ModelStore store(const std::string& where, std::int64_t size = kBig, DownloadLimits limits = {}) {
        const std::string url = where.starts_with("/") ? server_->url(where) : where;
        return ModelStore(dir_.path(), {"test-model.gguf", size, sha256Hex(body(size)), url}, limits);
    }

    static test::FakeHttpServer* server_;
    test::TempDir dir_;
};
test::FakeHttpServer* ModelStoreDownload::server_ = nullptr;

// A leftover partial file goes first; the body is reported once per MiB written (with or
// without a length from the server), then exactly 1.0.
TEST_F(ModelStoreDownload, CompleteBodyIsVerifiedInstalledAndReportedInSteps) {
    const std::vector<double> inSteps{kMiB / kBig, 2 * kMiB / kBig, 3 * kMiB / kBig, 1.0};
    const struct {
        const char* path;
        std::int64_t size;
        std::vector<double> progress;
    } cases[] = {{"/big/model", kBig, inSteps}, {"/big/nolength", kBig, inSteps}, {"/small/model", kSmall, {1.0}}};
    for (const auto& c : cases) {
        const ModelStore s = store(c.path, c.size);
        fs::create_directories(s.modelURL().parent_path());
        test::writeFile(s.partialURL(), "leftover from an earlier attempt");
        std::vector<double> progress;
        s.download([&](double f) {
            progress.push_back(f);
            if (f < 1.0) {
                EXPECT_EQ(fs::status(s.partialURL()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
            }
        });
        EXPECT_EQ(fs::status(s.modelURL().parent_path()).permissions(), fs::perms::owner_all);
        EXPECT_TRUE(s.isInstalled()) << c.path;
        EXPECT_EQ(test::readFile(s.modelURL()), body(c.size));
        EXPECT_FALSE(fs::exists(s.partialURL()));
        EXPECT_EQ(progress, c.progress) << c.path;
    }
}

// Each ends in a download error of its own before the end, keeping the earlier model and no partial file.
TEST_F(ModelStoreDownload, FailuresAreDownloadErrorsThatKeepTheEarlierModel) {
    const struct {
        const char* where;
        std::int64_t expected;
        DownloadLimits limits;
        std::string error;
        bool whole;  // else the start of the message
    } cases[] = {
        {"/error", kBig, {}, "model download failed: HTTP 500", true},
        {"/nothing-here", kBig, {}, "model download failed: HTTP 404", true},
        {"/big/model", kSmall, {}, "model download is more than 300000 bytes, expected 300000", true},
        {"/big/wrong", kBig, {}, "model checksum mismatch — got " + sha256Hex(body(kBig, 0x55)) + ", expected " + sha256Hex(body(kBig)), true},
        {"/trickle", kSmall, {1000, 1}, "model download failed: Operation too slow", false},
        {"/big/reset", kBig, {}, "model download failed: ", false},
        {"http://127.0.0.1:1/model", kBig, {}, "model download failed: ", false},  // nothing listens there
    };
    for (const auto& c : cases) {
        const ModelStore s = store(c.where, c.expected, c.limits);
        fs::create_directories(s.modelURL().parent_path());
        test::writeFile(s.modelURL(), "earlier model");
        std::vector<double> progress;
        try {
            s.download([&](double f) { progress.push_back(f); });
            ADD_FAILURE() << c.where << ": no error";
        } catch (const ModelDownloadError& e) {
            const std::string message = e.errorDescription();
            EXPECT_EQ(c.whole ? message : message.substr(0, c.error.size()), c.error) << message;
        }
        EXPECT_EQ(test::readFile(s.modelURL()), "earlier model");
        EXPECT_FALSE(fs::exists(s.partialURL())) << c.where;
        EXPECT_TRUE(std::find(progress.begin(), progress.end(), 1.0) == progress.end());
    }

    // A verified body that cannot take the model's place: a folder with something in it.
    const ModelStore s = store("/small/model", kSmall);
    fs::remove(s.modelURL());
    fs::create_directories(s.modelURL() / "inside");
    try {
        s.download(nullptr);
        ADD_FAILURE() << "no error";
    } catch (const ModelDownloadError& e) {
        EXPECT_TRUE(e.errorDescription().starts_with("cannot install the model at " + s.modelURL().string() + ": "))
            << e.errorDescription();
    }
    EXPECT_FALSE(fs::exists(s.partialURL()));
}

// Size first, then the digest, which must match exactly in lower case.
TEST(ModelStore, VerifyChecksTheSizeThenTheExactDigest) {
    test::TempDir dir;
    const ModelStore s(dir.path());
    const std::int64_t size = s.artifact().expectedBytes;
    const std::string digest = s.artifact().expectedSHA256;
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        ModelStore::Fetched fetched;
        std::string error;
    } cases[] = {
        {{size, digest}, ""},
        {{size - 1, digest}, "model download is " + std::to_string(size - 1) + " bytes, expected " + std::to_string(size)},
        {{size + 1, upper}, "model download is " + std::to_string(size + 1) + " bytes, expected " + std::to_string(size)},
        {{size, upper}, "model checksum mismatch — got " + upper + ", expected " + digest},
    };
    for (const auto& c : cases) {
        std::string error;
        try {
            s.verify(c.fetched);
        } catch (const ModelDownloadError& e) {
            error = e.errorDescription();
        }
        EXPECT_EQ(error, c.error);
    }
}

TEST(ModelStore, InstalledMeansTheExactSizeWithLinksFollowed) {
    test::TempDir dir;
    const ModelStore s(dir.path(), {"m.gguf", 751094240, std::string(64, '0'), "file:///m.gguf"});
    const std::uintmax_t expected = 751094240;
    EXPECT_EQ(s.modelURL(), dir.path() / "models" / "m.gguf");
    EXPECT_EQ(s.partialURL(), dir.path() / "models" / "m.gguf.partial");
    EXPECT_FALSE(s.isInstalled());
    fs::create_directories(s.modelURL().parent_path());
    // Sparse files: the size is all that is read.
    const auto sized = [](const fs::path& p, std::uintmax_t size) {
        test::writeFile(p, "");
        fs::resize_file(p, size);
    };
    for (const std::uintmax_t size : {expected - 1, expected + 1, expected}) {
        sized(s.modelURL(), size);
        EXPECT_EQ(s.isInstalled(), size == expected) << size;
    }
    fs::remove(s.modelURL());
    sized(dir / "elsewhere.gguf", expected);
    fs::create_symlink(dir / "elsewhere.gguf", s.modelURL());
    EXPECT_TRUE(s.isInstalled());
    fs::remove(dir / "elsewhere.gguf");  // now dangling
    EXPECT_FALSE(s.isInstalled());
    fs::remove(s.modelURL());
    fs::create_directory(s.modelURL());
    EXPECT_FALSE(s.isInstalled());
}

// By default the build's own packed model, by a file:// URL (its size and digest are checked
// by the command line's download of it); the deployment base replaces the location.
TEST(ModelStore, PinnedArtifactIsTheShippedModelUnlessABaseIsGiven) {
    const ModelArtifact a = ModelArtifact::pinned();
    EXPECT_TRUE(std::filesystem::is_regular_file(a.downloadURL.substr(7))) << a.downloadURL;
    EXPECT_EQ(a.shownMegabytes, (a.expectedBytes + 524288) / 1048576);
    test::ScopedEnv env;
    env.set("ZARN_MODEL_BASE_URL", "http://127.0.0.1:8/acme/");
    EXPECT_EQ(ModelArtifact::pinned().downloadURL, "http://127.0.0.1:8/acme/" + a.fileName);
}

}  // namespace
}  // namespace zarn
