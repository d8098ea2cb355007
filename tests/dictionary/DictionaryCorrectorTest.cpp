#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <memory>
#include <random>

#include "support/LogCapture.h"
#include "dictionary/DictionaryCorrector.h"
#include "dictionary/DictionaryStore.h"

namespace zarn {
namespace {

DictionaryCorrector correctorFor(const std::string& fileText) { return DictionaryCorrector(DictionaryStore::parse(fileText)); }

const std::string eAcute = "\xC3\xA9";            // é, composed
const std::string eCombining = "e\xCC\x81";       // e + U+0301

TEST(DictionaryCorrector, OnlyEnabledCorrectionsApply) {
    auto corrector = correctorFor("cloud\n# off: a -> B\nc -> D\n");
    EXPECT_EQ(corrector.ruleCount(), 1u);
    EXPECT_EQ(corrector.apply("a c cloud").text, "a D cloud");
    auto empty = corrector.apply("");
    EXPECT_EQ(empty.text, "");
    EXPECT_TRUE(empty.applied.empty());
    // Not even normalised when there are no rules.
    auto none = correctorFor("Foo\n# off: cloud code -> Claude Code\n");
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(none.apply("caf" + eCombining).text, "caf" + eCombining);
}

TEST(DictionaryCorrector, MatchesSpacingHyphensCaseAndLineBreaks) {
    auto corrector = correctorFor("cloud code -> Claude Code");
    auto result = corrector.apply("I use cloud-code and CLOUD CODE daily");
    EXPECT_EQ(result.text, "I use Claude Code and Claude Code daily");
    ASSERT_EQ(result.applied.size(), 1u);
    EXPECT_EQ(result.applied[0], (AppliedCorrection{"cloud-code", "Claude Code", 2}));

    const std::pair<std::string, std::string> variants[] = {
        {"cloudcode", "Claude Code"},
        {"Cloud  Code", "Claude Code"},
        {"cloud\ncode", "Claude Code"},
        {"cloud \t- -code", "Claude Code"},
        {"cloud\xE2\x80\x83" "code", "Claude Code"},  // em space is white space
        {"cloud code.", "Claude Code."},
        {"(cloud code)", "(Claude Code)"},
        {"_cloud code_", "_Claude Code_"},
        {"cloud code's", "Claude Code's"},
        {"cloudy codes", "cloudy codes"},
        {"xcloud code", "xcloud code"},
        {"cloud code2", "cloud code2"},
        {"cloud_code", "cloud_code"},  // an underscore is not a separator between the words
    };
    for (const auto& [input, expected] : variants) {
        SCOPED_TRACE(input);
        EXPECT_EQ(corrector.apply(input).text, expected);
    }
}

TEST(DictionaryCorrector, LongestFirstAndLaterRulesSeeEarlierOutput) {
    // 'york' comes first in the file, the longer rule still runs first.
    auto corrector = correctorFor("york -> York\nnew york -> New York City\n");
    auto result = corrector.apply("new york");
    EXPECT_EQ(result.text, "New York City");
    ASSERT_EQ(result.applied.size(), 2u);
    EXPECT_EQ(result.applied[0], (AppliedCorrection{"new york", "New York City", 1}));
    EXPECT_EQ(result.applied[1], (AppliedCorrection{"York", "York", 1}));

    // Chained rules: the output of one is the input of the next.
    auto chained = correctorFor("alpha beta -> gamma\ngamma -> delta\n");
    auto out = chained.apply("alpha-beta!");
    EXPECT_EQ(out.text, "delta!");
    ASSERT_EQ(out.applied.size(), 2u);
    EXPECT_EQ(out.applied[1].from, "gamma");
}

TEST(DictionaryCorrector, EqualLengthsKeepDictionaryOrder) {
    // Both hear five characters; the first in the file runs first and takes the text.
    auto corrector = correctorFor("apple -> one\nAPPLE -> two\n");
    auto result = corrector.apply("apple");
    EXPECT_EQ(result.text, "one");
    ASSERT_EQ(result.applied.size(), 1u);
    EXPECT_EQ(result.applied[0].to, "one");
}

// Neither side is a pattern: the heard text matches literally, the written text is inserted
// literally and untrimmed; a phrase of separators only makes no rule.
TEST(DictionaryCorrector, BothSidesAreLiteral) {
    auto corrector = DictionaryCorrector({DictionaryEntry::correction("price", "$1 \\0 $0 \\\\ ${x}"),
                                          DictionaryEntry::correction("node.js", "Node.js"),
                                          DictionaryEntry::correction("c++ (old)", "C++98"),
                                          DictionaryEntry::correction("a|b", "AB"),
                                          DictionaryEntry::correction("\\d", "digit"),
                                          DictionaryEntry::correction("x y", " z "),
                                          DictionaryEntry::correction("-", "dash"),
                                          DictionaryEntry::correction("\t- \n", "mixed")});
    EXPECT_EQ(corrector.ruleCount(), 6u);
    const std::pair<std::string, std::string> cases[] = {
        {"the price is", "the $1 \\0 $0 \\\\ ${x} is"},
        {"node.js and nodexjs", "Node.js and nodexjs"},
        {"use c++ (old) now", "use C++98 now"},
        {"a b a|b", "a b AB"},
        {"7 \\d", "7 digit"},
        {"a x y - b", "a  z  - b"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(corrector.apply(input).text, expected) << input;
    EXPECT_EQ(corrector.apply("price").applied[0].to, "$1 \\0 $0 \\\\ ${x}");
    EXPECT_EQ(DictionaryCorrector::patternSource("- -"), "");
}

// No dictionary and no text can make one apply() run away.
TEST(DictionaryCorrector, WorkIsBounded) {
    test::LogCapture logs;
    // White space of any kind splits words: runs of no-break spaces and form feeds between
    // the words no longer make the matcher backtrack exponentially.
    std::string hear = "x", nbsps;
    for (int i = 0; i < 10; ++i) hear += " \u00A0\f\u00A0";
    for (int i = 0; i < 40; ++i) nbsps += "\u00A0";
    auto spaced = DictionaryCorrector({DictionaryEntry::correction(hear + " y", "XY")});
    EXPECT_EQ(DictionaryCorrector::patternSource(hear + " y"), DictionaryCorrector::patternSource("x y"));
    EXPECT_EQ(spaced.apply("x" + nbsps + "z x" + nbsps + "y").text, "x" + nbsps + "z XY");

    // A rule that outruns its time is skipped; the others still apply. (Its words are in the
    // text, or it would not run at all.)
    std::string longText;
    for (int i = 0; i < 20000; ++i) longText += "alpha gamma ";
    auto slow = DictionaryCorrector(
        {DictionaryEntry::correction("alpha beta", "AB"), DictionaryEntry::correction("z", "Z")}, {.matchTimeLimit = 1});
    EXPECT_EQ(slow.apply(longText + "alpha betas z").text, longText + "alpha betas Z");
    EXPECT_EQ(logs.messages().at(0), "dictionary · a correction was skipped: matching took too long");

    // Rules feeding each other stop once the text passes 16 times its length plus 4096.
    auto times32 = [](const std::string& s) {
        std::string out;
        for (int i = 0; i < 32; ++i) out += s;
        return out;
    };
    std::vector<DictionaryEntry> chain;
    for (char c = 'a'; c < 'z'; ++c) chain.push_back(DictionaryEntry::correction({c}, times32({char(c + 1), ' '})));
    auto growing = DictionaryCorrector(chain).apply("a");
    EXPECT_EQ(growing.text, times32(times32("c ") + " "));
    EXPECT_EQ(growing.applied.size(), 2u);
    EXPECT_EQ(logs.messages().at(1), "dictionary · corrections stopped: the text grew past 4112 characters");
}

TEST(DictionaryCorrector, NormalisesToComposedForm) {
    // A heard phrase typed decomposed matches a composed transcript, and the reverse.
    auto decomposedRule = DictionaryCorrector({DictionaryEntry::correction("caf" + eCombining, "Caf" + eAcute)});
    auto result = decomposedRule.apply("un caf" + eAcute + " noir");
    EXPECT_EQ(result.text, "un Caf" + eAcute + " noir");
    auto composedRule = DictionaryCorrector({DictionaryEntry::correction("caf" + eAcute, "coffee")});
    EXPECT_EQ(composedRule.apply("caf" + eCombining).text, "coffee");
    // With rules present the returned text is composed even when nothing matched.
    EXPECT_EQ(composedRule.apply("r" + eCombining + "sum" + eCombining).text, "r" + eAcute + "sum" + eAcute);
    // The é is a letter: it fences the match like any other.
    EXPECT_EQ(DictionaryCorrector({DictionaryEntry::correction("caf", "X")}).apply("caf" + eCombining).text,
              "caf" + eAcute);
}

TEST(DictionaryCorrector, FencesAndCaseWorkBeyondAscii) {
    // "привет мир"
    auto corrector = DictionaryCorrector({DictionaryEntry::correction(
        "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80", "HELLO")});
    // Upper case "ПРИВЕТ-МИР" matches.
    EXPECT_EQ(corrector.apply("\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2-\xD0\x9C\xD0\x98\xD0\xA0!").text, "HELLO!");
    // Preceded by a Cyrillic letter ("я"): no match.
    std::string glued = "\xD1\x8F\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80";
    EXPECT_EQ(corrector.apply(glued).text, glued);
    // Digits of other scripts fence too (Arabic-Indic one).
    auto digits = DictionaryCorrector({DictionaryEntry::correction("v", "V")});
    EXPECT_EQ(digits.apply("v\xD9\xA1 v").text, "v\xD9\xA1 V");
}

// The rules scope case-insensitivity to the words; they must find exactly what the whole
// pattern compiled case-insensitively finds.
TEST(DictionaryCorrector, PatternsMatchLikeTheWholeCaseInsensitivePattern) {
    auto matches = [](const icu::RegexPattern& pattern, const std::string& text) {
        std::vector<std::pair<int32_t, int32_t>> ranges;
        icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
        while (matcher->find(status)) ranges.emplace_back(matcher->start(status), matcher->end(status));
        EXPECT_TRUE(U_SUCCESS(status));
        return ranges;
    };
    const std::string hears[] = {"cloud code", "stra\xC3\x9F" "e", "\xCF\x83\xCE\xB1", "k", "a b-c"};
    const std::string texts[] = {
        "cloud code CLOUD-CODE xcloud code cloud code9 \xCD\x85" "cloud code",
        "STRASSE stra\xC3\x9F" "e Stra\xE1\xBA\x9E" "E xstrasse",
        "\xCE\xA3\xCE\x91 \xCF\x82\xCE\xB1 \xCF\x83\xCE\xB1\xCD\x85",
        "k K \xE2\x84\xAA \xCD\x85k k\xCD\x85 k_",
        "A B C a\nb\t-c ab-c",
    };
    for (const auto& hear : hears) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        std::string words = DictionaryCorrector::patternSource(hear);
        words = words.substr(words.find("(?i:") + 4);
        words = words.substr(0, words.rfind(")(?!"));
        std::string whole = "(?<![\\p{L}\\p{N}])" + words + "(?![\\p{L}\\p{N}])";
        std::unique_ptr<icu::RegexPattern> reference(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(whole), UREGEX_CASE_INSENSITIVE, parseError, status));
        std::unique_ptr<icu::RegexPattern> ours(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(DictionaryCorrector::patternSource(hear)), 0, parseError, status));
        ASSERT_TRUE(U_SUCCESS(status)) << hear;
        for (const auto& text : texts) {
            EXPECT_EQ(matches(*ours, text), matches(*reference, text)) << hear << " in " << text;
        }
    }
    EXPECT_FALSE(DictionaryCorrector({DictionaryEntry::correction("k", "X")}).apply("\xE2\x84\xAA").applied.empty());
}

// Running only the rules whose first word occurs in the text gives what running every rule
// gives, also where case folding changes lengths and where one rule's output feeds another.
TEST(DictionaryCorrector, IndexedRulesMatchEveryRule) {
    const std::vector<std::string> words = {
        "cloud", "code", "new", "york", "s", "ss", "strasse", "stra\xC3\x9F" "e", "STRA\xE1\xBA\x9E" "E",
        "\xEF\xAC\x81" "le", "file", "i", "\xC4\xB0" "stanbul", "istanbul", "\xC7\xB0" "a", "j\xCC\x8C" "a",
        "\xCF\x83\xCE\xB1", "\xCF\x82", "\xCE\xB1\xCD\x85", "\xE1\xBE\xB3", "caf" + eAcute, "caf" + eCombining,
        "\xC3\xA9" "cole", "na\xC3\xAF" "ve", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
        "\xD0\xBC\xD0\xB8\xD1\x80", "\xD1\x91\xD0\xB6", "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0", "k", "\xE2\x84\xAA", "9"};
    const std::vector<std::string> separators = {" ", "-", "\n", " - ", "", ", ", "\t", "\r\n", "_", "."};
    std::size_t applied = 0, skipped = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
        auto cased = [&](const std::string& word) {
            icu::UnicodeString text = icu::UnicodeString::fromUTF8(word);
            switch (rng() % 4) {
                case 0: text.toUpper(icu::Locale::getRoot()); break;
                case 1: text.toLower(icu::Locale::getRoot()); break;
                case 2: text.toTitle(nullptr, icu::Locale::getRoot()); break;
                default: break;
            }
            std::string out;
            return text.toUTF8String(out);
        };
        auto phrase = [&](std::size_t most, const std::vector<std::string>& joins) {
            std::string out = cased(pick(words));
            for (std::size_t n = rng() % most; n > 0; --n) out += pick(joins) + cased(pick(words));
            return out;
        };
        std::vector<DictionaryEntry> entries;
        for (std::size_t n = 1 + rng() % 20; n > 0; --n) {
            entries.push_back(DictionaryEntry::correction(phrase(3, {" ", "-", "  "}), phrase(2, {" "})));
        }
        std::string text = phrase(40, separators);
        DictionaryCorrector corrector(entries);
        auto fast = corrector.apply(text);
        skipped += corrector.ruleCount() - corrector.compiledCount();
        auto slow = corrector.applyEveryRule(text);
        ASSERT_EQ(fast.text, slow.text) << "seed " << seed;
        ASSERT_EQ(fast.applied, slow.applied) << "seed " << seed;
        applied += fast.applied.size();
        // A rebuilt corrector keeps what the one before compiled.
        EXPECT_EQ(DictionaryCorrector(entries, {}, &corrector).compiledCount(), corrector.ruleCount());
    }
    EXPECT_GT(applied, 300u);
    EXPECT_GT(skipped, 1000u);
}

TEST(DictionaryBiasPhrases, DistinctEnabledWrittenTextsInOrder) {
    auto phrases = DictionaryCorrector::biasPhrases(DictionaryStore::parse("Foo\nfoo\n# off: Bar\nx -> Baz\n"));
    EXPECT_EQ(phrases, (std::vector<std::string>{"Foo", "Baz"}));

    std::vector<DictionaryEntry> entries{DictionaryEntry::term("  spaced \n"), DictionaryEntry::correction("a", " "),
                                         DictionaryEntry::term("\xC3\x89t\xC3\xA9"),  // Été
                                         DictionaryEntry::term("\xC3\xA9t\xC3\xA9")};  // été: same ignoring case
    EXPECT_EQ(DictionaryCorrector::biasPhrases(entries), (std::vector<std::string>{"spaced", "\xC3\x89t\xC3\xA9"}));
}

TEST(DictionaryBiasPhrases, StopAtTheLimit) {
    std::vector<DictionaryEntry> entries;
    for (int i = 0; i < 50; ++i) entries.push_back(DictionaryEntry::term("term" + std::to_string(i)));
    auto phrases = DictionaryCorrector::biasPhrases(entries);
    ASSERT_EQ(phrases.size(), DictionaryCorrector::biasLimit);
    EXPECT_EQ(phrases.front(), "term0");
    EXPECT_EQ(phrases.back(), "term39");
}

}  // namespace
}  // namespace zarn
