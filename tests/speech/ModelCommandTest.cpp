#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "Gguf.h"
#include "speech/ModelStore.h"
#include "support/FakeHttpServer.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;

const char* const kSphinxModel = "/usr/share/pocketsphinx/model/en-us";

class ModelCommand : public ::testing::Test {
protected:
    test::CommandResult zarn(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            env[proxy] = "";
        }
        return test::runZarn(home_.path(), args, {.input = "", .env = env});
    }
    test::TempDir home_;
    const ModelArtifact artifact_ = ModelArtifact::pinned();
    const std::string modelPath_ = (home_ / "data" / "Zarn" / "models" / artifact_.fileName).string();
};

// From a fresh data folder: the build's own model, downloaded, transcribes the sample.
TEST_F(ModelCommand, DownloadTheShippedModelThenTranscribe) {
    const std::string size = std::to_string(artifact_.shownMegabytes) + " MB from " + artifact_.downloadURL + "\n";
    EXPECT_EQ(zarn({"model", "status"}).out, "not installed\n" + modelPath_ + "\n" + size);
    const auto nothing = zarn({"transcribe", "--engine", "nemotron", "--raw-rate", "16000",
                               "/usr/share/pocketsphinx/test/data/goforward.raw"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("run “zarn model download”"), std::string::npos) << nothing.err;
    EXPECT_EQ(nothing.err.find("menu"), std::string::npos);

    const auto download = zarn({"model", "download"});
    ASSERT_EQ(download.status, 0) << download.err;
    EXPECT_EQ(download.out, "installed\n" + modelPath_ + "\n");
    EXPECT_EQ(zarn({"model", "status"}).out, "installed\n" + modelPath_ + "\n" + size);
    const auto run = zarn({"transcribe", "--engine", "nemotron", "--raw-rate", "16000",
                           "/usr/share/pocketsphinx/test/data/goforward.raw"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Go forward ten meters.\n");
}

TEST_F(ModelCommand, DownloadPrintsTheErrorDescriptionAndKeepsNothing) {
    test::FakeHttpServer server(test::FakeHttpServer::modelHost());
    ASSERT_GT(server.port(), 0);
    const auto run = zarn({"model", "download"}, {{"ZARN_MODEL_BASE_URL", server.url("/acme")}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zarn model download: model download is " +
                           (artifact_.expectedBytes > 300000 ? "300000 bytes"
                                                             : "more than " + std::to_string(artifact_.expectedBytes) + " bytes") +
                           ", expected " + std::to_string(artifact_.expectedBytes) + "\n");
    EXPECT_FALSE(fs::exists(modelPath_));
    EXPECT_FALSE(fs::exists(modelPath_ + ".partial"));
}

// `model pack` makes what the build ships, byte for byte, and refuses what would lose a file.
TEST_F(ModelCommand, PackMakesTheShippedModelAndRefusesUnsafePaths) {
    const std::string out = (home_ / "en-us.gguf").string();
    auto run = zarn({"model", "pack", "--from", kSphinxModel, out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::readFile(out), test::readFile(artifact_.downloadURL.substr(7)));
    EXPECT_EQ(fs::status(out).permissions(), static_cast<fs::perms>(0644));

    // A copy whose hmm folder is a link leading out of it; then a real copy.
    const fs::path linked = home_ / "linked" / "en-us", copy = home_ / "copy" / "en-us";
    fs::create_directories(linked);
    fs::create_directories(copy.parent_path());
    fs::create_directory_symlink(fs::path(kSphinxModel) / "en-us", linked / "en-us");
    for (const char* f : {"cmudict-en-us.dict", "en-us.lm.bin"}) fs::copy(fs::path(kSphinxModel) / f, linked / f);
    fs::copy(kSphinxModel, copy, fs::copy_options::recursive);
    ::mkfifo((home_ / "fifo.gguf").c_str(), 0600);
    const struct {
        fs::path from, out;
        std::string error;
    } refused[] = {
        {linked, out, "leads outside the model folder"},
        {copy, copy / "en-us.lm.bin", "is one of the model's own files"},
        {copy, copy / "en-us" / "mdef", "is one of the model's own files"},
        {copy, home_ / "fifo.gguf", "not a regular file"},
        {home_ / "none", out, "not a folder"},
    };
    for (const auto& c : refused) {
        run = zarn({"model", "pack", "--from", c.from.string(), c.out.string()});
        EXPECT_EQ(run.status, 1) << c.out;
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    }
    EXPECT_EQ(test::readFile(copy / "en-us.lm.bin"), test::readFile(fs::path(kSphinxModel) / "en-us.lm.bin"));
    EXPECT_TRUE(fs::is_fifo(home_ / "fifo.gguf"));
    EXPECT_EQ(test::readFile(out), test::readFile(artifact_.downloadURL.substr(7)));  // the earlier output stays
    for (const auto& entry : fs::recursive_directory_iterator(home_.path())) {  // no temporary file left
        EXPECT_FALSE(entry.path().extension().string().size() == 7 && entry.path().stem().has_extension())
            << entry.path();
    }
}

}  // namespace
}  // namespace zarn
