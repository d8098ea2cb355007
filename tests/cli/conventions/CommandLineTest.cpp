#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

using Words = std::vector<std::string>;

test::CommandResult zarn(Words args) {
    test::TempDir home;
    return test::runZarn(home.path(), args);
}

Words plus(Words words, const std::string& last) {
    words.push_back(last);
    return words;
}

std::string joined(const Words& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// The names listed under "Commands:" in a help text.
Words commandsIn(const std::string& help) {
    Words names;
    std::istringstream lines(help);
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "Commands:") {
            inside = true;
        } else if (inside && line.rfind("  ", 0) != 0) {
            break;
        } else if (inside && line[2] != ' ') {
            names.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    return names;
}

// Every command and subcommand as typed, found by walking the help itself.
std::vector<Words> everyCommand() {
    std::vector<Words> all;
    std::function<void(Words)> visit = [&](Words path) {  // a copy: `all` grows under it
        for (const auto& name : commandsIn(zarn(plus(path, "--help")).out)) {
            all.push_back(plus(path, name));
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
        const auto help = zarn(plus(command, "--help"));
        EXPECT_EQ(help.status, 0) << usage;
        EXPECT_EQ(help.err, "") << usage;
        EXPECT_NE(help.out.find(usage), std::string::npos) << help.out;
        EXPECT_EQ(zarn(plus(command, "-h")).out, help.out) << usage;

        const auto unknown = zarn(plus(command, "--no-such-option"));
        EXPECT_EQ(unknown.status, 2) << usage;
        EXPECT_EQ(unknown.out, "") << usage;
        EXPECT_NE(unknown.err.find(usage), std::string::npos) << unknown.err;
    }
}

TEST(CommandLine, DoubleDashEndsTheOptionsAndHelpNamesACommand) {
    const std::vector<std::pair<Words, std::string>> cases = {
        {{"correct", "--", "--json"}, "--json\n"},
        {{"cleanup", "--", "--help"}, "--Help.\n"},
        {{"help", "cleanup"}, "usage: zarn cleanup"},
    };
    for (const auto& [args, out] : cases) {
        const auto run = zarn(args);
        EXPECT_EQ(run.status, 0) << joined(args) << ": " << run.err;
        EXPECT_NE(run.out.find(out), std::string::npos) << joined(args) << ": " << run.out;
    }
}

// The commands the manual page describes: the plain words after .B or .BR in COMMANDS.
std::set<std::string> manPageCommands() {
    std::ifstream page(std::string(std::getenv("ZARN_TEST_SOURCE_DIR")) + "/data/man/zarn.1");
    std::set<std::string> commands;
    bool inside = false, item = false;
    const std::regex word("^[a-z]+$");
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH", 0) == 0) inside = line == ".SH COMMANDS";
        if (inside && item && (line.rfind(".B ", 0) == 0 || line.rfind(".BR ", 0) == 0)) {
            std::istringstream words(line.substr(line.find(' ') + 1));
            Words path;
            for (std::string w; words >> w && std::regex_match(w, word);) path.push_back(w);
            if (!path.empty()) commands.insert(joined(path));  // else an option of the command above
        }
        item = line == ".TP";
    }
    return commands;
}

TEST(CommandLine, HelpManualAndCompletionListTheSameCommands) {
    std::set<std::string> leaves, topLevel;
    for (const auto& command : everyCommand()) {
        if (commandsIn(zarn(plus(command, "--help")).out).empty()) leaves.insert(joined(command));
        if (command.size() == 1) topLevel.insert(command[0]);
    }
    EXPECT_EQ(leaves, manPageCommands());

    // The completion asked for "zarn ", in a bash that sees no home and only the built zarn.
    test::TempDir home;
    const std::string source = std::getenv("ZARN_TEST_SOURCE_DIR"), build = std::getenv("ZARN_BINARY_DIR");
    test::writeFile(home / "complete.sh", "source " + source + "/data/completion/zarn\nCOMP_WORDS=(zarn '')\n"
                                          "COMP_CWORD=1\n_zarn\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const std::string shell = "env -i HOME=" + home.path().string() + " PATH=" + build + "/src/cli:/usr/bin:/bin " +
                              "bash --norc --noprofile " + (home / "complete.sh").string();
    std::set<std::string> completed;
    if (FILE* pipe = ::popen(shell.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe)) completed.insert(std::string(line, std::strcspn(line, "\n")));
        ::pclose(pipe);
    }
    EXPECT_EQ(completed, topLevel);
}

}  // namespace
}  // namespace zarn
