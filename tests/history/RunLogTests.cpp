#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/Dates.h"
#include "base/Uuid.h"
#include "history/RunJson.h"
#include "history/RunLog.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

SystemTime at(const char* iso) { return *parseIso8601(iso); }

DictationRun sampleRun(std::string text = "Hello world") {
    DictationRun run;
    run.id = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    run.date = at("2026-03-01T09:15:42Z");
    run.engine = "Apple (streaming)";
    run.audioSeconds = 2.5;
    run.processSeconds = 0.125;
    run.text = std::move(text);
    return run;
}

const char* kSampleLine =
    R"J({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","date":"2026-03-01T09:15:42Z","engine":"Apple (streaming)",)J"
    R"J("audioSeconds":2.5,"processSeconds":0.125,"text":"Hello world"})J";

TEST(RunJson, WritesCompactLineInFixedKeyOrder) {
    EXPECT_EQ(encodeRunLine(sampleRun()), kSampleLine);

    auto run = sampleRun();
    run.id = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";  // written in upper case whatever it was given as
    run.date += std::chrono::milliseconds(900);       // the fraction is not stored
    run.audioSeconds = 2;
    run.processSeconds = 1e-05;
    run.corrections = std::vector<AppliedCorrection>{{"zarn", "Zarn", 2}, {"q", "queue", 1}};
    EXPECT_EQ(encodeRunLine(run),
              R"J({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","date":"2026-03-01T09:15:42Z","engine":"Apple (streaming)",)J"
              R"J("audioSeconds":2,"processSeconds":1e-05,"text":"Hello world",)J"
              R"J("corrections":[{"from":"zarn","to":"Zarn","count":2},{"from":"q","to":"queue","count":1}]})J");
}

TEST(RunJson, NumbersAndTextsReadBackExactly) {
    auto run = sampleRun("Line one\nline \"two\"\tand ünïcödé — 日本語 👍🏽 \\ /");
    run.audioSeconds = 0.1 + 0.2;  // needs all 17 digits
    run.processSeconds = 1234567.890123;
    auto line = encodeRunLine(run);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->find('\n'), std::string::npos);
    EXPECT_NE(line->find("ünïcödé — 日本語 👍🏽"), std::string::npos) << "non-ASCII is written as UTF-8";
    auto back = decodeRunLine(*line);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, run);
}

TEST(RunJson, RefusesRunsThatCannotBeWritten) {
    for (const auto& spoil : std::vector<std::function<void(DictationRun&)>>{
             [](DictationRun& r) { r.audioSeconds = std::numeric_limits<double>::infinity(); },
             [](DictationRun& r) { r.processSeconds = std::nan(""); }, [](DictationRun& r) { r.id = "not-a-uuid"; }}) {
        auto run = sampleRun();
        spoil(run);
        EXPECT_FALSE(encodeRunLine(run));
    }
}

TEST(RunJson, ReadsKeysInAnyOrderAndIgnoresUnknownOnes) {
    auto run = decodeRunLine(
        R"J({"text":"hi","extra":{"nested":[1,2]},"processSeconds":1,"audioSeconds":3.25,"engine":"Nemotron (streaming)",)J"
        R"J("date":"2026-03-01T10:15:42+01:00","id":"3f2504e0-4f89-41d3-9a0c-0305e82c3301","corrections":null})J");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->id, "3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    EXPECT_EQ(run->date, at("2026-03-01T09:15:42Z"));
    EXPECT_EQ(run->engine, "Nemotron (streaming)");
    EXPECT_EQ(run->audioSeconds, 3.25);
    EXPECT_EQ(run->processSeconds, 1.0);
    EXPECT_EQ(run->text, "hi");
    EXPECT_FALSE(run->corrections);

    // A missing id gets a fresh identity each time.
    const char* noId = R"J({"date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J";
    auto first = decodeRunLine(noId), second = decodeRunLine(noId);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(isUuid(first->id));
    EXPECT_NE(first->id, second->id);
}

TEST(RunJson, RejectsLinesThatDoNotMatchTheFormat) {
    const std::string base = R"J("date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t")J";
    EXPECT_TRUE(decodeRunLine("{" + base + "}"));
    for (const std::string& bad : std::vector<std::string>{
             std::string(R"J({"date":"2026-03-01T09:15:42.250Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J"),
             std::string(R"J({"date":"2026-03-01 09:15:42","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J"),
             std::string(R"J({"engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J"),
             std::string(R"J({"date":"2026-03-01T09:15:42Z","audioSeconds":1,"processSeconds":1,"text":"t"})J"),
             std::string(R"J({"date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":"1","processSeconds":1,"text":"t"})J"),
             std::string(R"J({"date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":1,"processSeconds":1})J"),
             "{\"id\":\"123\"," + base + "}",
             "{\"corrections\":{}," + base + "}",
             "{\"corrections\":[{\"from\":\"a\",\"to\":\"b\"}]," + base + "}",
             "{\"corrections\":[{\"from\":\"a\",\"to\":\"b\",\"count\":1.5}]," + base + "}",
             "{" + base,  // cut off
             // dates the clock cannot hold
             R"J({"date":"1677-01-01T00:00:00Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J",
             R"J({"date":"2262-06-01T00:00:00Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J",
             std::string("[1,2]"),
             std::string("not json"),
         }) {
        EXPECT_FALSE(decodeRunLine(bad)) << bad;
    }
}

// Valid JSON the parser underneath cannot hold as it is (a byte order mark, integers beyond 64
// bits, deep nesting) is read like any other; a key given twice counts with its last value.
TEST(RunJson, ReadsUnusualJsonAsAStrictReaderKeepingLastValues) {
    const std::string head = R"J({"date":"2026-03-01T09:15:42Z","engine":"e","processSeconds":1,)J";
    const std::string tail = R"J("audioSeconds":1,"text":"t"})J";
    const std::string deep = std::string(3000, '[') + std::string(3000, ']');
    const std::string big = "123456789012345678901234567890";
    auto correction = [&](const std::string& fields) { return head + "\"corrections\":[{" + fields + "}]," + tail; };
    for (const auto& [line, accepted] : std::vector<std::pair<std::string, bool>>{
             {"\xEF\xBB\xBF" + head + tail, true},
             {head + "\"x\":[" + big + "," + deep + "]," + tail, true},
             {head + "\"audioSeconds\":" + big + ",\"text\":\"t\"}", true},
             {head + "\"audioSeconds\":1e400,\"text\":\"t\"}", false},
             {head + "\"text\":1," + tail, true},
             {head + tail.substr(0, tail.size() - 1) + ",\"text\":1}", false},
             {head + "\"id\":\"3F2504E0-4F89-41D3-9A0C-0305E82C3301\",\"id\":null," + tail, true},
             {head + "\"x\":\"\\uDC00\"," + tail, false},
             {head + "\"x\":\"\x01\"," + tail, false},
             {head + "\"x\":\"\xED\xA0\x80\"," + tail, false},
             {head + tail + " x", false},
             {correction("\"from\":\"a\",\"to\":\"b\",\"count\":-0,\"x\":" + deep), true},
             {correction("\"from\":\"a\",\"to\":" + deep + ",\"count\":1"), false},
             {correction("\"from\":\"a\",\"to\":\"b\",\"count\":" + big), false},
             {correction("\"from\":\"a\",\"to\":\"b\",\"count\":9223372036854775808"), false},
         }) {
        EXPECT_EQ(decodeRunLine(line).has_value(), accepted) << line.substr(0, 200);
    }
    EXPECT_EQ(decodeRunLine(head + "\"audioSeconds\":" + big + ",\"text\":\"t\"}")->audioSeconds, 1.2345678901234568e29);
}

class RunLogTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir / "Zarn" / "runs.jsonl";
    RunLog log{file};
};

TEST_F(RunLogTest, FirstRecordCreatesFolderAndPrivateFileAndRecordsAppendInOrder) {
    ASSERT_TRUE(log.record(sampleRun()));
    EXPECT_EQ(readFile(file), std::string(kSampleLine) + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(log.record(sampleRun("second")));
    auto runs = log.load();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], sampleRun());
    EXPECT_EQ(runs[1].text, "second");
}

TEST_F(RunLogTest, LoadSkipsUnreadableLinesAndKeepsTheRest) {
    EXPECT_TRUE(log.load().empty()) << "no file yet";
    std::string good = kSampleLine;
    writeFile(file, "\n" + good + "\n" +
                        R"J({"id":"11111111-2222-4333-8444-555555555555","date":"2026-03-01T09:15:42.5Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"fraction"})J"
                        "\n{\"id\":\"AB\n\n" +
                        R"J({"date":"2026-03-02T00:00:00Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"no id","future":true})J"
                        "\n" +
                        good);  // last line without its line feed
    auto runs = log.load();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].text, "Hello world");
    EXPECT_EQ(runs[1].text, "no id");
    EXPECT_EQ(runs[2].text, "Hello world");
}

TEST_F(RunLogTest, AppendAfterACrashDoesNotGlueOntoTheBrokenLine) {
    const std::string broken = R"J({"id":"11111111-2222-4333-8444-555555555555","date":"2026-03-0)J";
    writeFile(file, std::string(kSampleLine) + "\n" + broken);
    auto run = sampleRun("after the crash");
    run.id = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";
    ASSERT_TRUE(log.record(run));
    EXPECT_EQ(readFile(file), std::string(kSampleLine) + "\n" + broken + "\n" + *encodeRunLine(run) + "\n");
    auto runs = log.load();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].text, "after the crash");
}

TEST_F(RunLogTest, DeleteKeepsUnreadableLinesVerbatimInPlace) {
    auto keep = sampleRun("keep me");
    keep.id = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";
    const std::string keepLine = *encodeRunLine(keep);
    // Readable lines written by another program keep their own form too.
    const std::string foreignOrder =
        R"J({"text":"other order","date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":1.0,"processSeconds":2,"id":"BBBBBBBB-BBBB-4CCC-8DDD-EEEEEEEEEEEE"})J";
    const std::string fraction =
        R"J({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","date":"2026-03-01T09:15:42.250Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"fraction, same id"})J";
    const std::string damaged = "{\"id\":\"3F2504E0-4F89-41D3-9A0C-0305E82C3301\",\"date\":";
    const std::string noId =
        R"J({"date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"no id"})J";
    // However a record writes the id (any letter case, escaped), a delete by that id finds it.
    const std::string rest = R"J(,"date":"2026-03-01T09:15:42Z","engine":"e","audioSeconds":1,"processSeconds":1,"text":"t"})J";
    writeFile(file, keepLine + "\n" + kSampleLine + "\n" + fraction + "\n" + damaged + "\n" + foreignOrder + "\n" +
                        R"J({"id":"3f2504e0-4F89-41d3-9A0C-0305e82c3301")J" + rest + "\n" +
                        R"J({"id":"\u0033F2504E0-4F89-41D3-9A0C-0305E82C3301")J" + rest + "\n" + kSampleLine + "\n" +
                        noId + "\n");

    auto target = sampleRun();
    target.id = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";  // any letter case names the same run
    std::string error;
    EXPECT_EQ(log.deleteRun(target, &error), 4u) << "every record with the id goes";
    EXPECT_EQ(error, "");
    EXPECT_EQ(readFile(file), keepLine + "\n" + fraction + "\n" + damaged + "\n" + foreignOrder + "\n" + noId + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A record without id cannot be deleted by the identity it got at load.
    auto runs = log.load();
    ASSERT_EQ(runs.size(), 3u);
    const auto before = readFile(file);
    EXPECT_EQ(log.deleteRun(runs[2]), 0u);
    EXPECT_EQ(readFile(file), before);
}

TEST_F(RunLogTest, DeletingTheOnlyRunLeavesAnEmptyFileAndClearRemovesIt) {
    EXPECT_EQ(log.deleteRun(sampleRun()), 0u) << "no file";
    EXPECT_FALSE(std::filesystem::exists(file));
    ASSERT_TRUE(log.record(sampleRun()));
    EXPECT_EQ(log.deleteRun(sampleRun("other id")), 1u) << "same id, so it goes";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    EXPECT_TRUE(log.load().empty());

    ASSERT_TRUE(log.record(sampleRun()));
    EXPECT_TRUE(log.clear());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(log.load().empty());
    EXPECT_TRUE(log.clear()) << "clearing a missing file is no failure";
}

// No folder, FIFO or device where the file should be is read, written or removed, and none blocks.
TEST_F(RunLogTest, NoRegularFileIsReportedAndLeftAlone) {
    std::filesystem::create_directories(file.parent_path());
    for (auto [make, what] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { std::filesystem::create_directory(file); }, "a folder"},
             {[&] { ::mkfifo(file.c_str(), 0600); }, "a FIFO"},
             {[&] { std::filesystem::create_symlink("/dev/zero", file); }, "a device"}}) {
        std::filesystem::remove(file);
        make();
        const std::string reason = " is " + what + ", not a regular file";
        std::string error;
        EXPECT_TRUE(log.load(&error).empty());
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(log.deleteRun(sampleRun(), &error), 0u);
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_FALSE(log.record(sampleRun(), &error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_FALSE(log.clear(&error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    EXPECT_TRUE(std::filesystem::exists("/dev/zero"));
}

// An over-long line is unreadable like any other: skipped by a load, kept verbatim by a delete.
TEST_F(RunLogTest, OverlongLineIsSkippedAndKept) {
    const std::string huge = "{\"text\":\"" + std::string(RunLog::lineLimit, 'x') + "\"}";
    auto other = sampleRun("other");
    other.id = makeUuid();
    writeFile(file, *encodeRunLine(other) + "\n" + huge + "\n" + kSampleLine + "\n" + huge);
    EXPECT_EQ(log.load().size(), 2u);
    EXPECT_EQ(log.deleteRun(other), 1u);
    EXPECT_EQ(readFile(file), huge + "\n" + kSampleLine + "\n" + huge + "\n");
}

// Deleting or clearing through a link changes the file it leads to: the text really goes.
TEST_F(RunLogTest, ChangesGoThroughALink) {
    auto real = dir / "elsewhere.jsonl";
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::create_symlink(real, file);
    ASSERT_TRUE(log.record(sampleRun()));
    ASSERT_TRUE(log.record(sampleRun("second")));
    EXPECT_EQ(log.deleteRun(sampleRun()), 2u);
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_EQ(readFile(real), "");
    ASSERT_TRUE(log.record(sampleRun("secret")));
    ASSERT_TRUE(log.clear());
    EXPECT_FALSE(std::filesystem::exists(real));
    EXPECT_TRUE(std::filesystem::is_symlink(file));
}

// Writers with descriptors of their own, as separate processes have: records made while two
// deletes rewrite a large history all stay, and both deleted runs stay deleted.
TEST_F(RunLogTest, ConcurrentRecordsAndDeletesLoseNothing) {
    std::string bytes;
    std::vector<std::string> ids;
    for (int i = 0; i < 100'000; ++i) {
        auto run = sampleRun("run " + std::to_string(i));
        run.id = makeUuid();
        if (i == 10 || i == 99'990) ids.push_back(run.id);
        bytes += *encodeRunLine(run) + "\n";
    }
    writeFile(file, bytes);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (const auto& id : ids) {
        threads.emplace_back([&, id] { failures += RunLog(file).deleteRun(id) == 1 ? 0 : 1; });
    }
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([&, i] { failures += !RunLog(file).record(sampleRun("new " + std::to_string(i))); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    auto runs = log.load();
    EXPECT_EQ(runs.size(), 100'000u - 2 + 10);
    auto isNew = [](const DictationRun& r) { return r.text.starts_with("new "); };
    EXPECT_EQ(std::count_if(runs.begin(), runs.end(), isNew), 10);
    for (const auto& id : ids) {
        EXPECT_EQ(std::count_if(runs.begin(), runs.end(), [&](const DictationRun& r) { return r.id == id; }), 0);
    }
}

TEST(RunLogLocation, DefaultFileIsInTheDataFolder) {
    test::ScopedXdgHome home;
    auto file = RunLog::defaultFile();
    EXPECT_EQ(file, home.dataHome() / "Zarn" / "runs.jsonl");
    EXPECT_TRUE(std::filesystem::is_directory(file.parent_path()));
}

}  // namespace
}  // namespace zarn
