#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "Gguf.h"
#include "speech/TestServer.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

struct CliRun {
    int code = -1;
    std::string out;
};

// Runs the built `zarn` with the given arguments (shell-quoted by the caller), standard
// error folded into the output.
CliRun zarn(const std::string& arguments) {
    const std::string command = std::string("'") + ZARN_TEST_BINARY + "' " + arguments + " 2>&1";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class ModelCommand : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            ::unsetenv(name);
        }
    }
    test::ScopedXdgHome home_;
    std::string modelPath() const {
        return (home_.dataHome() / "Zarn" / "models" / "nemotron-3.5-asr-streaming-0.6b-Q8_0.gguf").string();
    }
};

TEST_F(ModelCommand, StatusNamesStateAndPath) {
    CliRun run = zarn("model status");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "not installed\n" + modelPath() + "\n");
    std::filesystem::create_directories(std::filesystem::path(modelPath()).parent_path());
    test::writeFile(modelPath(), "");
    std::filesystem::resize_file(modelPath(), 751094240);
    run = zarn("model status");
    EXPECT_EQ(run.out, "installed\n" + modelPath() + "\n");
    EXPECT_EQ(zarn("model").code, 2);
    EXPECT_EQ(zarn("model frobnicate").code, 2);
}

TEST_F(ModelCommand, DownloadPrintsTheErrorDescriptionAndKeepsNothing) {
    test::TestServer server;
    ASSERT_GT(server.port(), 0);
    ::setenv("ZARN_MODEL_BASE_URL", server.url("/acme").c_str(), 1);
    const CliRun run = zarn("model download");
    ::unsetenv("ZARN_MODEL_BASE_URL");
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "zarn model download: model download is 300000 bytes, expected 751094240: operation failed\n");
    EXPECT_FALSE(std::filesystem::exists(modelPath()));
    EXPECT_FALSE(std::filesystem::exists(modelPath() + ".partial"));
}

TEST_F(ModelCommand, PackWritesAPocketSphinxModelFile) {
    test::TempDir dir;
    const std::string out = (dir / "en-us.gguf").string();
    CliRun run = zarn("model pack --from /usr/share/pocketsphinx/model/en-us '" + out + "'");
    ASSERT_EQ(run.code, 0) << run.out;
    const std::string bytes = test::readFile(out);
    std::string error;
    const auto file = transcribe::gguf::parse(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->string("general.architecture"), "pocketsphinx");
    EXPECT_EQ(file->string("pocketsphinx.language"), "en");
    ASSERT_NE(file->tensor("hmm/mdef"), nullptr);
    EXPECT_EQ(*file->tensor("hmm/mdef")->byteSize,
              std::filesystem::file_size("/usr/share/pocketsphinx/model/en-us/en-us/mdef"));
    EXPECT_EQ(*file->tensor("lm")->byteSize, std::filesystem::file_size("/usr/share/pocketsphinx/model/en-us/en-us.lm.bin"));

    run = zarn("model pack --from '" + dir.path().string() + "/none' '" + out + "'");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("not a folder"), std::string::npos);
    EXPECT_EQ(zarn("model pack x.gguf").code, 2);
}

}  // namespace
}  // namespace zarn
