#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/FakeHttpServer.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

using test::FakeHttpServer;

using Run = test::CommandResult;

// Runs the built `zarn` in a fresh home.
Run runZarn(const std::vector<std::string>& args, const std::string& input = "",
            const std::map<std::string, std::string>& extraEnv = {}) {
    test::TempDir dir;
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

// The server's settings and the fallbacks are the backend's and the formatter's own tests.
TEST(CmdCleanup, SmartUsesTheConfiguredServerElseTheRules) {
    FakeHttpServer server(FakeHttpServer::modelServer([](const auto&) { return FakeHttpServer::chat("We ship it tomorrow."); }));
    auto run = runZarn({"cleanup", "--smart"}, "um so we ship it tomorrow\n",
                       {{"ZARN_LLM_URL", server.baseUrl()}, {"ZARN_LLM_MODEL", "test-model"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "We ship it tomorrow.\n");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].path, "/v1/chat/completions");

    auto without = runZarn({"cleanup", "--smart", "um so uh we ship it"});
    EXPECT_EQ(without.status, 0);
    EXPECT_EQ(without.out, "So we ship it.\n");
    EXPECT_NE(without.err.find("Foundation model unavailable — using rule-based cleanup"), std::string::npos) << without.err;
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
