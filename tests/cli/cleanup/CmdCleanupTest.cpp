#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/FakeModelServer.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

using test::FakeModelServer;

using Run = test::CommandResult;

// Runs the built `zarn` in a fresh home, with `storedSettings` as its defaults file.
Run runZarn(const std::vector<std::string>& args, const std::string& input = "",
            const std::map<std::string, std::string>& extraEnv = {}, const std::string& storedSettings = "") {
    test::TempDir dir;
    if (!storedSettings.empty()) {
        std::filesystem::create_directories(dir / "config" / "Zarn");
        test::writeFile(dir / "config" / "Zarn" / "defaults.json", storedSettings);
    }
    return test::runZarn(dir.path(), args, {input, extraEnv});
}

TEST(CmdCleanup, RulesOnArgumentOrStandardInput) {
    auto fromArgument = runZarn({"cleanup", "um so uh we ship it"});
    EXPECT_EQ(fromArgument.status, 0);
    EXPECT_EQ(fromArgument.out, "So we ship it.\n");

    auto fromStdin = runZarn({"cleanup"}, "hello new paragraph world\n");
    EXPECT_EQ(fromStdin.out, "Hello \n\n World.\n");
    auto fromDash = runZarn({"cleanup", "-"}, "is it done ?");
    EXPECT_EQ(fromDash.out, "Is it done?\n");

    auto empty = runZarn({"cleanup"}, "  \n");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n");
}

TEST(CmdCleanup, SmartWithoutAServerFallsBack) {
    auto run = runZarn({"cleanup", "--smart", "um so uh we ship it"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "So we ship it.\n");
    EXPECT_NE(run.err.find("Foundation model unavailable — using rule-based cleanup"), std::string::npos) << run.err;
}

TEST(CmdCleanup, SmartUsesTheConfiguredServer) {
    FakeModelServer server(FakeModelServer::modelServer([](const auto&) { return FakeModelServer::chat("We ship it tomorrow."); }));
    auto run = runZarn({"cleanup", "--smart"}, "um so we ship it tomorrow\n",
                       {{"ZARN_LLM_URL", server.baseUrl()}, {"ZARN_LLM_MODEL", "test-model"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "We ship it tomorrow.\n");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].path, "/v1/chat/completions");
}

TEST(CmdCleanup, SmartReadsTheServerFromTheSettingsFileUnlessTheEnvironmentSetsIt) {
    FakeModelServer server(FakeModelServer::modelServer([](const auto&) { return FakeModelServer::chat("We ship it."); }));
    const std::string stored = R"({"llmURL": ")" + server.baseUrl() + R"(", "llmModel": "test-model"})";
    auto fromFile = runZarn({"cleanup", "--smart", "um we ship it"}, "", {}, stored);
    EXPECT_EQ(fromFile.out, "We ship it.\n");
    EXPECT_EQ(server.requests().size(), 2u);

    auto envWins = runZarn({"cleanup", "--smart", "um we ship it"}, "", {{"ZARN_LLM_URL", "http://192.0.2.1:1"}}, stored);
    // A documentation address: refused before any connection is tried; the rules answer.
    EXPECT_EQ(envWins.out, "We ship it.\n");
    EXPECT_NE(envWins.err.find("http://192.0.2.1:1 refused"), std::string::npos) << envWins.err;
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST(CmdCleanup, SmartFallsBackOnServerErrors) {
    FakeModelServer server(FakeModelServer::modelServer([](const auto&) { return FakeModelServer::error(500); }));
    auto failing = runZarn({"cleanup", "--smart", "uh we ship it"}, "", {{"ZARN_LLM_URL", server.baseUrl()}});
    EXPECT_EQ(failing.out, "We ship it.\n");
    EXPECT_NE(failing.err.find("Foundation model cleanup failed (language-model server answered HTTP 500) — falling back"),
              std::string::npos)
        << failing.err;
}

// Not only cleanup: every way out of the command line checks that its output was written.
TEST(CommandLine, OutputThatCannotBeWrittenFailsTheCommand) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"cleanup", "we ship it"}, {"--version"},
                                                {"--help"}, {"correct", "we ship it"}}) {
        test::TempDir home;
        auto run = test::runZarn(home.path(), args, {.stdoutPath = "/dev/full"});
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find("could not write the output (No space left on device)"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace zarn
