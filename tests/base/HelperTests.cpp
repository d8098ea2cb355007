#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "base/Dates.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Unicode.h"
#include "base/Uuid.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using namespace zarn;

TEST(Log, RedactsUnmarkedArgumentsAndShowsPublicOnes) {
    unsetenv("ZARN_LOG_PRIVATE");
    test::LogCapture capture;
    Log::speech().info("dictionary · %{public}ld correction(s) applied", 3L);
    Log::app().error("%{public}s", "Microphone access is off.");
    Log::inject().info("inserted %s via %{public}s", "secret dictated text", "accessibility");
    setenv("ZARN_LOG_PRIVATE", "1", 1);  // the switch reveals private arguments
    Log::app().info("text: %s", "hello");
    unsetenv("ZARN_LOG_PRIVATE");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].message, "dictionary · 3 correction(s) applied");
    EXPECT_EQ(records[0].category, "speech");
    EXPECT_EQ(records[1].level, Log::Level::error);
    EXPECT_EQ(records[2].message, "inserted <private> via accessibility");
    EXPECT_EQ(records[2].category, "inject");
    EXPECT_EQ(records[3].message, "text: hello");
}

TEST(Log, NumbersArePublicStringsPrivateUnlessMarked) {
    EXPECT_EQ(Log::format("%.2fs · %d%% · %02x · %zu · %.*f", {1.23456, 50, 10, 7u, 3, 0.5}, false),
              "1.23s · 50% · 0a · 7 · 0.500");
    EXPECT_EQ(Log::format("took %{private}.2f s for %s", {0.5, "hello"}, false), "took <private> s for <private>");
    EXPECT_EQ(Log::format("took %{private}.2f s for %s", {0.5, "hello"}, true), "took 0.50 s for hello");
    EXPECT_EQ(Log::format("%{public}s and %{public}s", {"one"}, false), "one and <missing>");
    EXPECT_EQ(Log::format("%{public}@ ready", {"Zarn"}, false), "Zarn ready");
}

TEST(Unicode, CountsGraphemeClustersNotCodePoints) {
    // e + combining acute, thumbs up + skin tone, flag + "!", CR LF
    for (auto [text, count] : std::vector<std::pair<const char*, std::size_t>>{
             {"", 0}, {"abc", 3}, {"e\xCC\x81", 1}, {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1},
             {"\xF0\x9F\x87\xB7\xF0\x9F\x87\xBA!", 2}, {"\r\n", 1}})
        EXPECT_EQ(unicode::graphemeCount(text), count) << text;
    EXPECT_EQ(unicode::graphemeClusters("пр\xCC\x81"), (std::vector<std::string>{"п", "р\xCC\x81"}));
}

TEST(Unicode, TrimsBothKindsOfWhiteSpace) {
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines(" \t\n hello world \r\n\xC2\xA0"), "hello world");
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines("\xE2\x80\xA8x\xC2\x85"), "x");  // U+2028, U+0085
    EXPECT_EQ(unicode::trimWhitespaceAndNewlines(" \n "), "");
    EXPECT_EQ(unicode::trimHorizontalWhitespace(" \tword\xE3\x80\x80 "), "word");  // ideographic space
    EXPECT_EQ(unicode::trimHorizontalWhitespace("\nword\n"), "\nword\n");
}

TEST(Unicode, NormalizesAndSearchesLikeASearchField) {
    EXPECT_EQ(unicode::nfc("e\xCC\x81"), "\xC3\xA9");
    EXPECT_TRUE(unicode::localizedStandardContains("Zoë Kravitz", "zoe"));
    EXPECT_TRUE(unicode::localizedStandardContains("ZOË", "\xC3\xAB"));
    EXPECT_TRUE(unicode::localizedStandardContains("Привет, Мир", "мир"));
    EXPECT_FALSE(unicode::localizedStandardContains("Kubernetes", "kubectl"));
    EXPECT_FALSE(unicode::localizedStandardContains("anything", ""));
    EXPECT_TRUE(unicode::isValidUtf8("Ω ok"));
    EXPECT_FALSE(unicode::isValidUtf8("bad \xC3("));
    EXPECT_EQ(unicode::toUtf8(unicode::toUtf32("Ωx🙂")), "Ωx🙂");
}

TEST(Dates, WholeSecondsUtcRoundTripAndStrictParsing) {
    auto t = SystemTime(std::chrono::seconds(1'767'225'600)) + std::chrono::milliseconds(1999);
    EXPECT_EQ(formatIso8601(t), "2026-01-01T00:00:01Z");
    auto parsed = parseIso8601("2026-01-01T00:00:01Z");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(formatIso8601(*parsed), "2026-01-01T00:00:01Z");
    EXPECT_EQ(formatIso8601(*parseIso8601("2026-01-01T02:00:01+02:00")), "2026-01-01T00:00:01Z");
    EXPECT_FALSE(parseIso8601("2026-01-01T00:00:01.250Z"));
    EXPECT_FALSE(parseIso8601("2026-02-30T00:00:00Z"));
    EXPECT_FALSE(parseIso8601("2026-01-01 00:00:00Z"));
    EXPECT_FALSE(parseIso8601(""));
    // The clock counts nanoseconds: dates outside about 1677-09-21 to 2262-04-11 are refused, not wrapped.
    for (auto [text, held] : std::vector<std::pair<const char*, bool>>{{"0000-01-01T00:00:00Z", false},
                                                                        {"1677-09-21T00:12:43Z", false},
                                                                        {"1677-09-21T00:12:44Z", true},
                                                                        {"2262-04-11T23:47:16Z", true},
                                                                        {"2262-04-11T23:47:17Z", false},
                                                                        {"2262-04-11T23:47:16-00:01", false},
                                                                        {"9999-12-31T23:59:59Z", false}}) {
        auto date = parseIso8601(text);
        EXPECT_EQ(date.has_value(), held) << text;
        if (date) {
            EXPECT_EQ(formatIso8601(*date), std::string(text).substr(0, 19) + "Z");
        }
    }
}

TEST(Uuid, RandomVersion4InUpperCase) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        auto id = makeUuid();
        ASSERT_TRUE(isUuid(id)) << id;
        EXPECT_EQ(id[14], '4');
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
        for (char c : id) EXPECT_FALSE(c >= 'a' && c <= 'f');
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_FALSE(isUuid("not-a-uuid"));
}

TEST(Paths, XdgFoldersArePrivateAndAtomicWritesReplaceWhole) {
    test::ScopedXdgHome home;
    auto data = paths::dataDirectory();
    EXPECT_EQ(data, home.dataHome() / "Zarn");
    EXPECT_EQ(paths::configDirectory(), home.configHome() / "Zarn");
    struct stat st {};
    ASSERT_EQ(::stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto file = data / "runs.jsonl";
    ASSERT_TRUE(paths::writeFileAtomically(file, "first\n"));
    ASSERT_TRUE(paths::writeFileAtomically(file, "second\n"));
    EXPECT_EQ(test::readFile(file), "second\n");
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string error;
    EXPECT_FALSE(paths::writeFileAtomically(home.root() / "missing" / "x", "y", &error));
    EXPECT_FALSE(error.empty());

    std::string bytes;
    EXPECT_TRUE(paths::readFile(file, bytes));
    EXPECT_EQ(bytes, "second\n");

    // Written through a link, the file it leads to is replaced and the link stays.
    std::filesystem::create_symlink(file, data / "link");
    ASSERT_TRUE(paths::writeFileAtomically(data / "link", "third\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(data / "link"));
    EXPECT_EQ(test::readFile(file), "third\n");
    // A file the user made read-only is not replaced.
    ::chmod(file.c_str(), 0400);
    EXPECT_FALSE(paths::writeFileAtomically(file, "fourth\n", &error));
    EXPECT_EQ(error, file.string() + " is read-only; not replacing it");
    EXPECT_EQ(test::readFile(file), "third\n");

    setenv("XDG_DATA_HOME", "relative/path", 1);  // invalid by the XDG rules: ignored
    EXPECT_EQ(paths::dataDirectory(), home.root() / "home" / ".local/share/Zarn");
    ASSERT_EQ(::stat((home.root() / "home" / ".local").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "missing parents are private too";
}

// A FIFO must not block, a device must not be read, and neither is written over or moved.
TEST(Paths, OnlyRegularFilesAreReadOrReplaced) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_symlink("/dev/zero", dir / "zero");
    for (auto [name, what] : std::vector<std::pair<std::string, std::string>>{
             {"fifo", "a FIFO"}, {"folder", "a folder"}, {"zero", "a device"}}) {
        std::string bytes, error;
        EXPECT_EQ(paths::readRegularFile(dir / name, bytes, &error), paths::ReadStatus::notRegular) << name;
        EXPECT_EQ(error, (dir / name).string() + " is " + what + ", not a regular file");
        EXPECT_FALSE(paths::keepAside(dir / name, ".damaged", &error)) << name;
        EXPECT_FALSE(paths::writeFileAtomically(dir / name, "x", &error)) << name;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    std::string bytes, error;
    EXPECT_EQ(paths::readRegularFile(dir / "none", bytes), paths::ReadStatus::missing);
    test::writeFile(dir / "big", std::string(11, 'x'));
    EXPECT_EQ(paths::readRegularFile(dir / "big", bytes, &error, 10), paths::ReadStatus::tooLarge);
    EXPECT_EQ(paths::readRegularFile(dir / "big", bytes, &error, 11), paths::ReadStatus::ok);
}

// Kept files are numbered, never one over another.
TEST(Paths, KeepAsideNeverReplacesAnEarlierFile) {
    test::TempDir dir;
    for (auto expected : {"f.damaged", "f.damaged-2", "f.damaged-3"}) {
        test::writeFile(dir / "f", expected);
        EXPECT_EQ(paths::keepAside(dir / "f", ".damaged"), dir / expected);
    }
    for (auto kept : {"f.damaged", "f.damaged-2", "f.damaged-3"}) EXPECT_EQ(test::readFile(dir / kept), kept);
    EXPECT_EQ(paths::keepAside(dir / "f", ".damaged"), dir / "f") << "nothing left to keep";
}
