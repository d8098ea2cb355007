#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

#include "base/Uuid.h"
#include "dictionary/DictionaryStore.h"

namespace zarn {
namespace {

using Kind = DictionaryEntry::Kind;

std::vector<std::string> headerLines() {
    std::vector<std::string> lines;
    std::string text(DictionaryStore::header);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the header must end with LF";
    return lines;
}

TEST(DictionaryEntry, ConstructorsMakeFreshIdsAndDefaults) {
    auto term = DictionaryEntry::term("Anthropic");
    EXPECT_TRUE(isUuid(term.id));
    EXPECT_EQ(term.kind, Kind::term);
    EXPECT_EQ(term.hear, "");
    EXPECT_TRUE(term.isEnabled);
    auto correction = DictionaryEntry::correction("cloud code", "Claude Code");
    EXPECT_EQ(correction.kind, Kind::correction);
    EXPECT_EQ(correction.hear, "cloud code");
    EXPECT_EQ(correction.write, "Claude Code");
    EXPECT_NE(term.id, correction.id);
    EXPECT_NE(DictionaryEntry::term("x").id, DictionaryEntry::term("x").id);
    EXPECT_EQ(DictionaryEntry("ID-1", Kind::term, "x").id, "ID-1");
}

TEST(DictionaryEntry, JsonRoundTripUsesTheFiveKeys) {
    DictionaryEntry entry("ABC", Kind::correction, "Claude Code", "cloud code", false);
    nlohmann::json json = entry;
    EXPECT_EQ(json, nlohmann::json::parse(
                        R"({"id":"ABC","kind":"correction","write":"Claude Code","hear":"cloud code","isEnabled":false})"));
    EXPECT_EQ(json.get<DictionaryEntry>(), entry);
    json["kind"] = "Term";  // raw values are exact
    EXPECT_THROW(json.get<DictionaryEntry>(), nlohmann::json::exception);
    json.erase("kind");
    EXPECT_THROW(json.get<DictionaryEntry>(), nlohmann::json::exception);
}

TEST(DictionaryFormat, FileLinesMarkDisabledEntries) {
    EXPECT_EQ(DictionaryEntry(Kind::term, "Foo", {}, false).fileLine(), "# off: Foo");
    EXPECT_EQ(DictionaryEntry::correction("y", "Z").fileLine(), "y -> Z");
}

TEST(DictionaryFormat, HeaderIsSevenCommentLinesWithPaddedExamples) {
    auto lines = headerLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "# Zarn dictionary");
    EXPECT_EQ(lines[1], "#");
    EXPECT_EQ(lines[5], "#");
    EXPECT_EQ(lines[6], "# Edit this file directly if you like; the app picks up changes immediately.");
    const std::string dash = "\xE2\x80\x94";
    const std::pair<std::string, std::string> examples[] = {
        {"Anthropic", "a term " + dash + " the engine is told this word exists"},
        {"cloud code -> Claude Code", "a correction " + dash + " when you hear X, write Y"},
        {"# off: some rule -> Rule", "a disabled entry"},
    };
    for (int i = 0; i < 3; ++i) {
        const auto& line = lines[static_cast<std::size_t>(i) + 2];
        const auto& [example, description] = examples[i];
        EXPECT_EQ(line.substr(0, 4), "#   ");
        std::string padded = example + std::string(26 - example.size(), ' ');
        EXPECT_EQ(line.substr(4, 26), padded);
        EXPECT_EQ(line.substr(30), description);
    }
    // The example lines are comments: the program's own file reads back empty.
    EXPECT_TRUE(DictionaryStore::parse(DictionaryStore::header).empty());
}

TEST(DictionaryFormat, EmptyInputsReadAsNothing) {
    EXPECT_TRUE(DictionaryStore::parse("").empty());
    EXPECT_TRUE(DictionaryStore::parse("\n\n\n").empty());
    EXPECT_TRUE(DictionaryStore::parse(DictionaryStore::fileText({})).empty());
    EXPECT_EQ(DictionaryStore::fileText({}), std::string(DictionaryStore::header) + "\n");
}

struct ParseCase {
    std::string line;
    std::optional<Kind> kind;  // nothing: the line produces no entry
    std::string write;
    std::string hear;
    bool enabled = true;
};

TEST(DictionaryFormat, ParsesEachLineShape) {
    const std::string nbsp = "\xC2\xA0";
    const ParseCase cases[] = {
        {"  Foo  ", Kind::term, "Foo", "", true},
        {"\tFoo" + nbsp, Kind::term, "Foo", "", true},
        {"cloud code->Claude Code", Kind::correction, "Claude Code", "cloud code", true},
        {"a -> b -> c", Kind::correction, "b -> c", "a", true},
        {"New-York  ->  NYC", Kind::correction, "NYC", "New-York", true},
        {"-> x", std::nullopt},
        {"x ->", std::nullopt},
        {"->", std::nullopt},
        {"# off:", std::nullopt},
        {"#off:   ", std::nullopt},
        {"# off: a -> b", Kind::correction, "b", "a", false},
        {"# off: Foo", Kind::term, "Foo", "", false},
        {"#   OFF:Foo", Kind::term, "Foo", "", false},
        {"#off:x", Kind::term, "x", "", false},
        {"# OFF:   x", Kind::term, "x", "", false},
        {"# Off: x -> ", std::nullopt},
        {"   # off: indented", Kind::term, "indented", "", false},
        {"# offline", std::nullopt},
        {"# note", std::nullopt},
        {"#", std::nullopt},
        {"   ", std::nullopt},
        {"caf\xC3\xA9 -> Caf\xC3\xA9", Kind::correction, "Caf\xC3\xA9", "caf\xC3\xA9", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("line '" + c.line + "'");
        auto entries = DictionaryStore::parse(c.line);
        if (!c.kind) {
            EXPECT_TRUE(entries.empty());
            continue;
        }
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].kind, *c.kind);
        EXPECT_EQ(entries[0].write, c.write);
        EXPECT_EQ(entries[0].hear, c.hear);
        EXPECT_EQ(entries[0].isEnabled, c.enabled);
        EXPECT_TRUE(isUuid(entries[0].id));
    }
}

TEST(DictionaryFormat, KeepsFileOrderDuplicatesAndCase) {
    auto entries = DictionaryStore::parse("Foo\n\n\nfoo -> FOO\nFoo\n# comment\nbar");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].write, "Foo");
    EXPECT_EQ(entries[1].hear, "foo");
    EXPECT_EQ(entries[1].write, "FOO");
    EXPECT_EQ(entries[2].write, "Foo");
    EXPECT_EQ(entries[3].write, "bar");
    // Identical lines are two entries with their own ids.
    EXPECT_NE(entries[0].id, entries[2].id);
}

TEST(DictionaryFormat, DropsCarriageReturnBeforeLineFeed) {
    auto entries = DictionaryStore::parse("# Zarn dictionary\r\nFoo\r\ncloud code -> Claude Code\r\n# off: Bar\r\nlast\r");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].write, "Foo");
    EXPECT_EQ(entries[1].write, "Claude Code");
    EXPECT_EQ(entries[2].write, "Bar");
    EXPECT_FALSE(entries[2].isEnabled);
    EXPECT_EQ(entries[3].write, "last");
    // Only one CR before the LF is a line ending; anything else stays text.
    auto inner = DictionaryStore::parse("a\rb\n");
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].write, "a\rb");
}

TEST(DictionaryFormat, WrittenFileReadsBackTheSameEntries) {
    std::vector<DictionaryEntry> entries{DictionaryEntry::term("X"), DictionaryEntry(Kind::correction, "Z", "y", false)};
    std::string text = DictionaryStore::fileText(entries);
    EXPECT_EQ(text, std::string(DictionaryStore::header) + "X\n# off: y -> Z\n");
    auto back = DictionaryStore::parse(text);
    ASSERT_EQ(back.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back[i].kind, entries[i].kind);
        EXPECT_EQ(back[i].write, entries[i].write);
        EXPECT_EQ(back[i].hear, entries[i].hear);
        EXPECT_EQ(back[i].isEnabled, entries[i].isEnabled);
        EXPECT_NE(back[i].id, entries[i].id);  // ids are never stored
    }
}

TEST(DictionaryFormat, EditorTextsTheFormatCannotKeep) {
    // A term typed with an arrow comes back as a correction.
    auto arrow = DictionaryStore::parse(DictionaryStore::fileText({DictionaryEntry::term("a->b")}));
    ASSERT_EQ(arrow.size(), 1u);
    EXPECT_EQ(arrow[0].kind, Kind::correction);
    EXPECT_EQ(arrow[0].hear, "a");
    EXPECT_EQ(arrow[0].write, "b");
    // A term beginning with "#" is read as a comment and lost.
    std::string text = DictionaryStore::fileText({DictionaryEntry::term("#hashtag")});
    EXPECT_NE(text.find("\n#hashtag\n"), std::string::npos);
    EXPECT_TRUE(DictionaryStore::parse(text).empty());
}

}  // namespace
}  // namespace zarn
