// Runs the built `zarn` binary; the XDG folders point into a temporary folder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <sstream>

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
    std::vector<nlohmann::json> objects;
    std::istringstream lines(json.out);
    for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0]["kind"], "term");
    EXPECT_EQ(objects[0]["write"], "Anthropic");
    EXPECT_EQ(objects[0]["hear"], "");
    EXPECT_EQ(objects[1]["kind"], "correction");
    EXPECT_EQ(objects[1]["hear"], "cloud code");
    EXPECT_EQ(objects[2]["isEnabled"], false);
    for (const auto& object : objects) {
        EXPECT_EQ(object.size(), 5u);
        EXPECT_TRUE(object["id"].is_string());
    }
}

TEST_F(DictionaryCliTest, AddPrintsWarningsButSaves) {
    auto run = zarn({"dictionary", "add", "--hear", "the", "--write", "the"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.err, HasSubstr("is an ordinary word"));
    EXPECT_THAT(run.err, HasSubstr("to itself"));
    EXPECT_EQ(zarn({"dictionary", "list"}).out, "the -> the\n");
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

    auto json = zarn({"correct", "--json", "I use cloud-code and CLOUD CODE daily"});
    EXPECT_EQ(json.status, 0);
    auto object = nlohmann::json::parse(json.out);
    EXPECT_EQ(object["text"], "I use Claude Code and Claude Code daily");
    EXPECT_EQ(object["applied"],
              nlohmann::json::parse(R"([{"from": "cloud-code", "to": "Claude Code", "count": 2}])"));
    auto none = nlohmann::json::parse(zarn({"correct", "--json", "nothing here"}).out);
    EXPECT_EQ(none["text"], "nothing here");
    EXPECT_EQ(none["applied"], nlohmann::json::array());
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

TEST_F(DictionaryCliTest, CheckPrintsOneWarningALine) {
    auto two = zarn({"dictionary", "check", "--hear", "the", "--write", "The"});
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(two.out,
              "\xE2\x80\x9Cthe\xE2\x80\x9D is an ordinary word. This will rewrite every use of it, not just the ones you "
              "mean. Consider a longer phrase.\n"
              "This rewrites \xE2\x80\x9Cthe\xE2\x80\x9D to itself, so it will never change anything.\n");
    auto none = zarn({"dictionary", "check", "--hear", "cloud code", "--write", "Claude Code"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
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
