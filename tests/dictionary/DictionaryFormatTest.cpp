#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "base/Uuid.h"
#include "dictionary/DictionaryStore.h"

namespace zarn {
namespace {

using Kind = DictionaryEntry::Kind;

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
    EXPECT_NE(DictionaryEntry::term("x").id, DictionaryEntry::term("x").id);
}

// The header's example lines are comments: the program's own file reads back empty.
TEST(DictionaryFormat, HeaderIsCommentsEndingInALineFeed) {
    const std::string header(DictionaryStore::header);
    EXPECT_EQ(header.rfind("# Zarn dictionary\n#\n#   Anthropic                 a term \xE2\x80\x94 ", 0), 0u);
    EXPECT_EQ(header.back(), '\n');
    EXPECT_TRUE(DictionaryStore::parse(header).empty());
    EXPECT_EQ(DictionaryStore::fileText({}), header + "\n");
    EXPECT_TRUE(DictionaryStore::parse(DictionaryStore::fileText({})).empty());
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
        {"", std::nullopt},
        {"\n\n\n", std::nullopt},
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

// File order, duplicates and case are kept; one CR before the LF ends a line, any other is text.
TEST(DictionaryFormat, KeepsFileOrderDuplicatesAndCase) {
    auto entries = DictionaryStore::parse("Foo\r\n\n\nfoo -> FOO\r\nFoo\n# comment\na\rb\n# off: Bar\r\nlast\r");
    std::vector<std::string> lines;
    for (const auto& e : entries) lines.push_back(e.fileLine());
    EXPECT_EQ(lines, (std::vector<std::string>{"Foo", "foo -> FOO", "Foo", "a\rb", "# off: Bar", "last"}));
    EXPECT_NE(entries[0].id, entries[2].id) << "identical lines are two entries";
}

TEST(DictionaryFormat, WrittenFileReadsBackTheSameEntries) {
    std::vector<DictionaryEntry> entries{DictionaryEntry::term("X"), DictionaryEntry(Kind::correction, "Z", "y", false)};
    std::string text = DictionaryStore::fileText(entries);
    EXPECT_EQ(text, std::string(DictionaryStore::header) + "X\n# off: y -> Z\n");
    auto back = DictionaryStore::parse(text);
    ASSERT_EQ(back.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back[i], DictionaryEntry(back[i].id, entries[i].kind, entries[i].write, entries[i].hear,
                                           entries[i].isEnabled));
        EXPECT_NE(back[i].id, entries[i].id);  // ids are never stored
    }
}

TEST(DictionaryFormat, EditorTextsTheFormatCannotKeep) {
    // A term typed with an arrow comes back as a correction.
    auto arrow = DictionaryStore::parse(DictionaryStore::fileText({DictionaryEntry::term("a->b")}));
    ASSERT_EQ(arrow.size(), 1u);
    EXPECT_EQ(arrow[0].fileLine(), "a -> b");
    // A term beginning with "#" is read as a comment and lost.
    std::string text = DictionaryStore::fileText({DictionaryEntry::term("#hashtag")});
    EXPECT_NE(text.find("\n#hashtag\n"), std::string::npos);
    EXPECT_TRUE(DictionaryStore::parse(text).empty());
}

}  // namespace
}  // namespace zarn
