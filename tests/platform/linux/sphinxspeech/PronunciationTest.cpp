#include <gtest/gtest.h>

#include <map>

#include "sphinx/Pronunciation.h"

namespace zarn::sphinx {
namespace {

std::string pronounce(const std::string& word) {
    static const std::map<std::string, std::string> dictionary = {
        {"post", "P OW S T"}, {"gres", "G R EH S"}, {"net", "N EH T"}, {"work", "W ER K"},
        {"open", "OW P AH N"}, {"table", "T EY B AH L"}, {"cloud", "K L AW D"}};
    return derivePronunciation(word, [](const std::string& w) {
        const auto it = dictionary.find(w);
        return it == dictionary.end() ? std::string() : it->second;
    });
}

TEST(Pronunciation, BuildsUnknownWordsFromKnownPartsLettersAndRules) {
    // Case changes, hyphens and digits split a word into parts.
    EXPECT_EQ(pronounce("OpenTable"), "OW P AH N T EY B AH L");
    EXPECT_EQ(pronounce("open-cloud"), "OW P AH N K L AW D");
    EXPECT_EQ(pronounce("cloud9"), "K L AW D N AY N");
    // Known words found inside a longer one.
    EXPECT_EQ(pronounce("postgres"), "P OW S T G R EH S");
    EXPECT_EQ(pronounce("cloudnetwork"), "K L AW D N EH T W ER K");
    // Short capitals and vowel-less words are spelled out.
    EXPECT_EQ(pronounce("SQL"), "EH S K Y UW EH L");
    EXPECT_EQ(pronounce("GPT-4"), "JH IY P IY T IY F AO R");
    EXPECT_EQ(pronounce("npm"), "EH N P IY EH M");
    // Spelling rules for the rest, with known pieces where they fit.
    EXPECT_EQ(pronounce("zarn"), "Z AA R N");
    EXPECT_EQ(pronounce("shubnet"), "SH AH B N EH T");
    EXPECT_EQ(pronounce("Chike"), "CH IH K");
    EXPECT_EQ(pronounce("..."), "");
    EXPECT_EQ(pronounce(""), "");
}

}  // namespace
}  // namespace zarn::sphinx
