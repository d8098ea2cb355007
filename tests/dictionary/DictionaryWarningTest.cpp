#include <gtest/gtest.h>

#include "dictionary/DictionaryWarning.h"

namespace zarn {
namespace {

std::vector<std::string> messages(const std::string& hear, const std::string& write) {
    std::vector<std::string> out;
    for (const auto& warning : DictionaryWarning::check(DictionaryEntry::correction(hear, write))) {
        EXPECT_EQ(warning.id(), warning.message);
        out.push_back(warning.message);
    }
    return out;
}

const std::string open = "\xE2\x80\x9C";
const std::string close = "\xE2\x80\x9D";

std::string ordinary(const std::string& h) {
    return open + h + close + " is an ordinary word. This will rewrite every use of it, not just the ones you mean. "
                              "Consider a longer phrase.";
}
std::string shortWord(const std::string& h) {
    return open + h + close + " is very short and will match often. Consider a longer phrase.";
}
std::string itself(const std::string& h) {
    return "This rewrites " + open + h + close + " to itself, so it will never change anything.";
}

TEST(DictionaryWarning, TermsNeverWarn) {
    EXPECT_TRUE(DictionaryWarning::check(DictionaryEntry::term("the")).empty());
    EXPECT_TRUE(DictionaryWarning::check(DictionaryEntry(DictionaryEntry::Kind::term, "a", "a")).empty());
}

TEST(DictionaryWarning, EachWarningAndItsOrder) {
    EXPECT_EQ(messages("  Code ", "Claude Code"), std::vector<std::string>{ordinary("Code")});
    EXPECT_EQ(messages("API", "A.P.I."), std::vector<std::string>{shortWord("API")});
    EXPECT_EQ(messages("kubernetes", "Kubernetes"), std::vector<std::string>{itself("kubernetes")});
    EXPECT_EQ(messages("the", "the"), (std::vector<std::string>{ordinary("the"), itself("the")}));
    EXPECT_EQ(messages("ok", " OK\n"), (std::vector<std::string>{shortWord("ok"), itself("ok")}));
}

TEST(DictionaryWarning, PhrasesAndSeparators) {
    EXPECT_TRUE(messages("cloud code", "Claude Code").empty());
    EXPECT_TRUE(messages("a-b", "AB").empty());
    EXPECT_TRUE(messages("   ", "   ").empty());
    EXPECT_TRUE(messages("", "x").empty());
    // Separators around a single word leave one word.
    EXPECT_EQ(messages("-code-", "Claude Code"), std::vector<std::string>{ordinary("-code-")});
    // A tab is not a separator: "go\tfast" is one long word.
    EXPECT_TRUE(messages("go\tfast", "GoFast").empty());
}

TEST(DictionaryWarning, LengthCountsCharactersNotBytes) {
    // "ёжи" is three Cyrillic letters (six bytes): short.
    std::string hedgehogs = "\xD1\x91\xD0\xB6\xD0\xB8";
    EXPECT_EQ(messages(hedgehogs, "x"), std::vector<std::string>{shortWord(hedgehogs)});
    EXPECT_TRUE(messages("gpt4o", "GPT-4o").empty());
}

TEST(DictionaryWarning, SelfRewriteIgnoresCaseButNotDiacritics) {
    EXPECT_EQ(messages("Caf\xC3\xA9 Noir", "CAF\xC3\x89 NOIR"), std::vector<std::string>{itself("Caf\xC3\xA9 Noir")});
    EXPECT_TRUE(messages("cafe noir", "caf\xC3\xA9 noir").empty());
}

TEST(DictionaryWarning, OrdinaryWordsAreRecognised) {
    const char* sample[] = {"a", "about", "because", "cloud", "number", "people", "would", "year", "your", "user"};
    for (const char* word : sample) {
        EXPECT_EQ(messages(word, "X"), std::vector<std::string>{ordinary(word)}) << word;
    }
    // Four letters and not ordinary: no warning at all.
    EXPECT_TRUE(messages("zarn", "Zarn!").empty());
}

}  // namespace
}  // namespace zarn
