#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>

#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

using Words = std::vector<std::string>;

test::CommandResult zarn(Words args, const std::string& last = "") {
    if (!last.empty()) args.push_back(last);
    test::TempDir home;
    return test::runZarn(home.path(), args);
}

std::string joined(const Words& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// The names listed under "Commands:" in a help text.
Words commandsIn(const std::string& help) {
    Words names;
    const auto start = help.find("\nCommands:\n");
    std::istringstream lines(start == std::string::npos ? "" : help.substr(start + 11));
    for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) {
        names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

// Every command and subcommand as typed, found by walking the help itself.
std::vector<Words> everyCommand() {
    std::vector<Words> all;
    std::function<void(Words)> visit = [&](Words path) {  // a copy: `all` grows under it
        for (const auto& name : commandsIn(zarn(path, "--help").out)) {
            all.push_back(path);
            all.back().push_back(name);
            visit(all.back());
        }
    };
    visit({});
    return all;
}

TEST(CommandLine, EveryCommandAnswersHelpAndRefusesUnknownOptions) {
    const auto commands = everyCommand();
    ASSERT_GE(commands.size(), 8u);
    for (const auto& command : commands) {
        const std::string usage = "usage: zarn " + joined(command);
        const auto help = zarn(command, "--help");
        EXPECT_EQ(help.status, 0) << usage;
        EXPECT_EQ(help.err, "") << usage;
        EXPECT_NE(help.out.find(usage), std::string::npos) << help.out;
        EXPECT_EQ(zarn(command, "-h").out, help.out) << usage;

        const auto unknown = zarn(command, "--no-such-option");
        EXPECT_EQ(unknown.status, 2) << usage;
        EXPECT_EQ(unknown.out, "") << usage;
        EXPECT_NE(unknown.err.find(usage), std::string::npos) << unknown.err;
    }
}

TEST(CommandLine, DoubleDashEndsTheOptionsAndHelpNamesACommand) {
    for (const auto& [args, out] : std::vector<std::pair<Words, std::string>>{
             {{"correct", "--", "--json"}, "--json\n"},
             {{"cleanup", "--", "--help"}, "--Help.\n"},
             {{"help", "cleanup"}, "usage: zarn cleanup"}}) {
        const auto run = zarn(args);
        EXPECT_EQ(run.status, 0) << joined(args) << ": " << run.err;
        EXPECT_NE(run.out.find(out), std::string::npos) << joined(args) << ": " << run.out;
    }
}

TEST(CommandLine, HelpManualAndCompletionListTheSameCommands) {
    std::set<std::string> leaves, topLevel, described, completed;
    for (const auto& command : everyCommand()) {
        if (commandsIn(zarn(command, "--help").out).empty()) leaves.insert(joined(command));
        if (command.size() == 1) topLevel.insert(command[0]);
    }
    // In the manual page, each command is an item of COMMANDS: ".TP" then its words in bold.
    const std::string source = std::getenv("ZARN_TEST_SOURCE_DIR"), build = std::getenv("ZARN_BINARY_DIR");
    const std::string page = test::readFile(source + "/data/man/zarn.1");
    const auto section = page.substr(page.find(".SH COMMANDS"), page.find(".SH OPTIONS") - page.find(".SH COMMANDS"));
    for (auto at = section.find("\n.TP\n.B"); at != std::string::npos; at = section.find("\n.TP\n.B", at + 1)) {
        auto word = section.find(' ', at + 6);
        auto end = section.find_first_not_of("abcdefghijklmnopqrstuvwxyz ", word + 1);
        std::string words = section.substr(word + 1, end - word - 1);
        while (!words.empty() && words.back() == ' ') words.pop_back();
        if (!words.empty()) described.insert(words);  // an option item such as .B \-\-json
    }
    EXPECT_EQ(leaves, described);

    // The completion asked for "zarn ", in a bash that sees no home and only the built zarn.
    test::TempDir home;
    test::writeFile(home / "complete.sh", "source " + source + "/data/completion/zarn\nCOMP_WORDS=(zarn '')\n"
                                          "COMP_CWORD=1\n_zarn\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const auto completion = test::ChildProcess::run(
        {"bash", "--norc", "--noprofile", (home / "complete.sh").string()},
        {.env = {{"HOME", home.path().string()}, {"PATH", build + "/src/cli:/usr/bin:/bin"}}, .cleanEnv = true});
    ASSERT_EQ(completion.status, 0) << completion.err;
    std::istringstream words(completion.out);
    for (std::string word; words >> word;) completed.insert(word);
    EXPECT_EQ(completed, topLevel);
}

}  // namespace
}  // namespace zarn
