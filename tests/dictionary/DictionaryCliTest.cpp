// Runs the built `zarn` binary; the XDG folders point into a temporary folder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "dictionary/DictionaryStore.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::readFile;
using test::writeFile;

using CommandRun = test::CommandResult;

class DictionaryCliTest : public ::testing::Test {
protected:
    fs::path defaultFile() const { return home_.dataHome() / "Zarn" / "dictionary.txt"; }

    CommandRun zarn(const std::vector<std::string>& args, const std::string& input = "") {
        return test::runZarn(home_.root(), args, {input, {}});
    }

    test::ScopedXdgHome home_;
    test::TempDir io_;
};

TEST_F(DictionaryCliTest, AddThenListInFileOrder) {
    EXPECT_EQ(zarn({"dictionary", "add", "Anthropic"}).status, 0);
    auto added = zarn({"dictionary", "add", "--hear", " cloud code ", "--write", "Claude Code"});
    EXPECT_EQ(added.status, 0);
    EXPECT_EQ(added.err, "");
    EXPECT_EQ(readFile(defaultFile()), std::string(DictionaryStore::header) + "Anthropic\ncloud code -> Claude Code\n");

    auto list = zarn({"dictionary", "list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "Anthropic\ncloud code -> Claude Code\n");

    writeFile(defaultFile(), readFile(defaultFile()) + "# off: foo -> Bar\n");
    auto json = zarn({"dictionary", "list", "--json"});
    EXPECT_EQ(json.status, 0);
    std::istringstream lines(json.out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) {
        auto object = nlohmann::json::parse(line);
        EXPECT_TRUE(object["id"].is_string());
        object.erase("id");
        got.push_back(object.dump());
    }
    EXPECT_EQ(got, (std::vector<std::string>{
                       R"({"hear":"","isEnabled":true,"kind":"term","write":"Anthropic"})",
                       R"({"hear":"cloud code","isEnabled":true,"kind":"correction","write":"Claude Code"})",
                       R"({"hear":"foo","isEnabled":false,"kind":"correction","write":"Bar"})"}));
}

TEST_F(DictionaryCliTest, AddRefusesTextsTheFileCannotHold) {
    const std::vector<std::vector<std::string>> bad{
        {"dictionary", "add", "   "},
        {"dictionary", "add", "a->b"},
        {"dictionary", "add", "#tag"},
        {"dictionary", "add", "two\nlines"},
        {"dictionary", "add", "--hear", "a -> b", "--write", "c"},
        {"dictionary", "add", "--hear", "x", "--write", ""},
        {"dictionary", "add", "--hear", "caf\xE9", "--write", "Cafe"},
    };
    for (const auto& args : bad) {
        auto run = zarn(args);
        EXPECT_EQ(run.status, 1) << args.back();
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(zarn({"dictionary", "add", "--hear", "x"}).status, 2);
    EXPECT_EQ(zarn({"dictionary", "add"}).status, 2);
    EXPECT_FALSE(fs::exists(defaultFile()));
}

TEST_F(DictionaryCliTest, CorrectFromArgumentAndStandardInput) {
    writeFile(defaultFile(), "cloud code -> Claude Code\n");
    auto argument = zarn({"correct", "I use cloud-code daily"});
    EXPECT_EQ(argument.status, 0);
    EXPECT_EQ(argument.out, "I use Claude Code daily\n");
    EXPECT_EQ(zarn({"correct"}, "cloud code\nand CLOUD\ncode\n").out, "Claude Code\nand Claude Code\n");
    EXPECT_EQ(zarn({"correct", "-"}, "price $1 cloud code").out, "price $1 Claude Code\n");

    EXPECT_EQ(nlohmann::json::parse(zarn({"correct", "--json", "I use cloud-code and CLOUD CODE daily"}).out),
              nlohmann::json::parse(R"({"text": "I use Claude Code and Claude Code daily",
                                        "applied": [{"from": "cloud-code", "to": "Claude Code", "count": 2}]})"));
    EXPECT_EQ(nlohmann::json::parse(zarn({"correct", "--json", "nothing here"}).out),
              nlohmann::json::parse(R"({"text": "nothing here", "applied": []})"));
    EXPECT_EQ(zarn({"correct", "caf\xE9"}).status, 1);
}

TEST_F(DictionaryCliTest, DictionaryOptionPicksTheFile) {
    auto mine = io_ / "mine.txt";
    writeFile(mine, "new york -> New York City\n");
    EXPECT_EQ(zarn({"correct", "--dictionary", mine.string(), "in new york"}).out, "in New York City\n");
    EXPECT_EQ(zarn({"dictionary", "add", "--dictionary=" + mine.string(), "Zarn"}).status, 0);
    EXPECT_EQ(zarn({"dictionary", "list", "--dictionary", mine.string()}).out, "new york -> New York City\nZarn\n");
    EXPECT_FALSE(fs::exists(defaultFile()));
    // Reading a file that is not there is an error; adding creates it.
    EXPECT_EQ(zarn({"correct", "--dictionary", (io_ / "none.txt").string(), "x"}).status, 1);
    EXPECT_EQ(zarn({"dictionary", "list", "--dictionary", (io_ / "none.txt").string()}).status, 1);
    EXPECT_EQ(zarn({"dictionary", "add", "--dictionary", (io_ / "new.txt").string(), "Fresh"}).status, 0);
    EXPECT_EQ(readFile(io_ / "new.txt"), std::string(DictionaryStore::header) + "Fresh\n");
}

// `check` prints one warning a line; `add` prints them too but saves.
TEST_F(DictionaryCliTest, WarningsAreOneALine) {
    const std::string ordinary = "\xE2\x80\x9Cthe\xE2\x80\x9D is an ordinary word. This will rewrite every use of "
                                 "it, not just the ones you mean. Consider a longer phrase.\n";
    const std::string itself = "This rewrites \xE2\x80\x9Cthe\xE2\x80\x9D to itself, so it will never change anything.\n";
    auto check = zarn({"dictionary", "check", "--hear", "the", "--write", "The"});
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.out, ordinary + itself);
    EXPECT_EQ(zarn({"dictionary", "check", "--hear", "cloud code", "--write", "Claude Code"}).out, "");
    auto add = zarn({"dictionary", "add", "--hear", "the", "--write", "the"});
    EXPECT_EQ(add.status, 0);
    EXPECT_EQ(add.err, "warning: " + ordinary + "warning: " + itself);
    EXPECT_EQ(zarn({"dictionary", "list"}).out, "the -> the\n");
}

TEST_F(DictionaryCliTest, UnreadableDictionaryIsReportedAndKept) {
    const std::string latin1 = "caf\xE9 -> Caf\xE9\n";
    writeFile(defaultFile(), latin1);
    auto correct = zarn({"correct", "cafe"});
    EXPECT_EQ(correct.status, 0);
    EXPECT_EQ(correct.out, "cafe\n");
    EXPECT_THAT(correct.err, HasSubstr("not readable as UTF-8"));
    EXPECT_EQ(readFile(defaultFile()), latin1);

    auto add = zarn({"dictionary", "add", "Foo"});
    EXPECT_EQ(add.status, 0);
    EXPECT_THAT(add.err, HasSubstr("dictionary.txt.unreadable"));
    EXPECT_EQ(readFile(defaultFile().string() + ".unreadable"), latin1);
    EXPECT_EQ(zarn({"dictionary", "list"}).out, "Foo\n");
}

// Twenty commands adding at once, each a process of its own: every entry stays.
TEST_F(DictionaryCliTest, ParallelAddsKeepEveryEntry) {
    std::vector<std::thread> adds;
    std::atomic<int> failed{0};
    for (int i = 0; i < 20; ++i) {
        adds.emplace_back([&, i] { failed += zarn({"dictionary", "add", "Term" + std::to_string(i)}).status != 0; });
    }
    for (auto& add : adds) add.join();
    EXPECT_EQ(failed, 0);
    auto listed = zarn({"dictionary", "list"}).out;
    for (int i = 0; i < 20; ++i) EXPECT_THAT(listed, HasSubstr("Term" + std::to_string(i) + "\n"));
}

// A FIFO, a device or a folder given as the dictionary is refused at once, naming what it is.
TEST_F(DictionaryCliTest, SpecialFilesAreRefusedWithTheRealReason) {
    ASSERT_EQ(::mkfifo((io_ / "fifo").c_str(), 0600), 0);
    for (auto [path, what] : std::vector<std::pair<std::string, std::string>>{
             {(io_ / "fifo").string(), "a FIFO"}, {"/dev/zero", "a device"}, {io_.path().string(), "a folder"}}) {
        auto run = zarn({"correct", "--dictionary", path, "text"});
        EXPECT_EQ(run.status, 1) << path;
        EXPECT_THAT(run.err, HasSubstr(path + " is " + what + ", not a regular file"));
        EXPECT_THAT(run.err, ::testing::Not(HasSubstr("UTF-8")));
    }
}

// What Zarn creates is private whatever the umask; a read-only dictionary is not replaced.
TEST_F(DictionaryCliTest, CreatedFilesArePrivateAndReadOnlyFilesStay) {
    mode_t saved = ::umask(0);
    auto add = zarn({"dictionary", "add", "Foo"});
    ::umask(saved);
    EXPECT_EQ(add.status, 0);
    for (const auto& entry : fs::recursive_directory_iterator(home_.dataHome())) {
        auto expected = entry.is_directory() ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write;
        EXPECT_EQ(entry.status().permissions(), expected) << entry.path();
    }
    ::chmod(defaultFile().c_str(), 0444);
    auto readOnly = zarn({"dictionary", "add", "Bar"});
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_THAT(readOnly.err, HasSubstr("is read-only"));
    EXPECT_EQ(zarn({"dictionary", "list"}).out, "Foo\n");
}

}  // namespace
}  // namespace zarn
