#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/Uuid.h"
#include "history/RunJson.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

class HistoryCommand : public ::testing::Test {
protected:
    test::ScopedXdgHome home;

    // Runs the built `zarn` with the words of `arguments`, in this test's home.
    test::CommandResult runZarn(const std::string& arguments) {
        std::vector<std::string> args;
        std::istringstream words(arguments);
        for (std::string word; words >> word;) args.push_back(word);
        return test::runZarn(home.root(), args);
    }
    std::filesystem::path file = home.dataHome() / "Zarn" / "runs.jsonl";
    const std::string lineA =
        R"J({"id":"AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE","date":"2026-03-01T09:15:42Z","engine":"Apple (streaming)","audioSeconds":2.5,"processSeconds":0.125,"text":"первая\nстрока"})J";
    const std::string lineB =
        R"J({"id":"BBBBBBBB-BBBB-4CCC-8DDD-EEEEEEEEEEEE","date":"2026-03-01T09:16:00Z","engine":"Nemotron (streaming)","audioSeconds":1,"processSeconds":0.5,"text":"second","corrections":[{"from":"zarn","to":"Zarn","count":1}]})J";
    const std::string damaged = R"J({"id":"CCCC)J";
};

TEST_F(HistoryCommand, ListsRunsOldestFirstAsJsonLines) {
    auto empty = runZarn("history list --json");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");

    test::writeFile(file, lineA + "\n" + damaged + "\n" + lineB + "\n");
    auto json = runZarn("history list --json");
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out, lineA + "\n" + lineB + "\n");

    auto text = runZarn("history list");
    EXPECT_EQ(text.status, 0);
    const auto a = text.out.find("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"), b = text.out.find("BBBBBBBB-BBBB-4CCC");
    EXPECT_TRUE(a < b && b != std::string::npos) << text.out;
    EXPECT_NE(text.out.find("первая ⏎ строка"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("zarn → Zarn ×1"), std::string::npos) << text.out;
}

TEST_F(HistoryCommand, DeletesOneRunByIdAndKeepsWhatItCannotRead) {
    test::writeFile(file, lineA + "\n" + damaged + "\n" + lineB + "\n");
    EXPECT_EQ(runZarn("history delete aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee").status, 0);
    EXPECT_EQ(test::readFile(file), damaged + "\n" + lineB + "\n");

    EXPECT_EQ(runZarn("history delete AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE").status, 1) << "already gone";
    EXPECT_EQ(runZarn("history delete not-an-id").status, 2);
    EXPECT_EQ(test::readFile(file), damaged + "\n" + lineB + "\n");
}

TEST_F(HistoryCommand, ClearRemovesTheFile) {
    test::writeFile(file, lineA + "\n");
    EXPECT_EQ(runZarn("history clear").status, 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(runZarn("history clear").status, 0) << "nothing to clear is fine";
    EXPECT_EQ(runZarn("history list").out, "");
}

TEST_F(HistoryCommand, AFifoIsRefusedWithoutWaiting) {
    std::filesystem::create_directories(file.parent_path());
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    auto list = runZarn("history list");
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.err.find(file.string() + " is a FIFO, not a regular file"), std::string::npos) << list.err;
}

}  // namespace
}  // namespace zarn
