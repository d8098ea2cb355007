#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/ManualExecutor.h"
#include "cleanup/RuleBasedFormatter.h"

namespace zarn {
namespace {

struct Case {
    std::string input;
    std::string expected;
};

void expectAll(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(RuleBasedFormatter::formatted(c.input), c.expected) << "input: " << c.input;
    }
}

TEST(RuleBasedFormatter, FormatsByTheRules) {
    expectAll({
        // documented examples
        {"   ", ""},
        {" \n\t ", ""},
        {"um so uh we ship it", "So we ship it."},
        {"Hmm, okay.", "Okay."},
        {"Um, I think", "I think."},
        {"hello new paragraph world", "Hello \n\n World."},
        {"call open paren foo close paren now", "Call ( foo ) now."},
        {"is it done ?", "Is it done?"},
        {"a\n\n\n\nb", "A\n\nB."},
        {"what? yes! ok", "What? Yes! Ok."},
        {"it costs 1.5 dollars", "It costs 1.5 Dollars."},
        {"a new line b", "A \n B."},
        {"umbrella", "Umbrella."},
        {"hmmm", "Hmmm."},
        // terminal punctuation
        {"call foo (bar)", "Call foo (bar)"},
        {"room 101", "Room 101."},
        {"he said \"hi\"", "He said \"hi\""},
        {"great 👍🏽", "Great 👍🏽"},
        {"twenty ٣", "Twenty ٣."},  // Arabic-Indic digit is numeric
        {"wait,", "Wait,"},
        // fillers need a whole word not after word characters or apostrophes
        {"x'um yes", "X'um yes."},
        {"'um' he said", "'Um' he said."},
        {"xum yes", "Xum yes."},
        {"4um yes", "4Um yes."},
        {"_um yes", "_Um yes."},
        {"um_ yes", "Um_ yes."},    // underscore is a word character: no boundary after the filler
        {"um2 yes", "Um2 yes."},
        {"I'm um fine", "I'm fine."},
        {"UM, UH, ERM, UHM, HMM, MHM, fine", "Fine."},
        {"well uh, so um, yes", "Well so yes."},
        {"um,, twice", ", Twice."},  // only one comma goes with the filler
        {"mhm", ""},
        // spoken punctuation in any letter case
        {"a New Line b", "A \n B."},
        {"a NEW PARAGRAPH b", "A \n\n B."},
        {"Open Paren x Close Paren", "( X )"},
        {"a newline b", "A newline b."},
        {"a new  line b", "A new line b."},  // two spaces: not the spoken command
        {"renew line", "Renew line."},
        {"hello new line", "Hello."},
        {"new paragraph new paragraph new paragraph x", "X."},
        // whitespace and line feeds
        {"a\t\t b", "A b."},
        {"yes , no ; maybe : ok !", "Yes, no; maybe: ok!"},
        {"a\n\nb", "A\n\nB."},
        {"a\n\n\nb", "A\n\nB."},
        {"a\n\n\n\n\n\n\nb", "A\n\nB."},
        {"a\nb", "A\nB."},
        {"a\r\nb", "A\r\nB."},  // a CR LF pair is one character and ends the sentence too
        {"  \n  a  \n  ", "A."},
        // capitalisation walks user perceived characters
        {"привет. как дела", "Привет. Как дела."},
        {"γεια σου! τι κάνεις", "Γεια σου! Τι κάνεις."},
        {"こんにちは", "こんにちは."},
        {"e\u0301cole", "E\u0301cole."},  // decomposed é stays one character
        {"istanbul", "Istanbul."},          // language-neutral mapping, no dotted capital I
        {"ǆemal", "Ǆemal."},
        {"\"quoted. text\"", "\"Quoted. Text\""},
        {"hello. 3 apples", "Hello. 3 Apples."},
        {"keep iPhone and NASA", "Keep iPhone and NASA."},
        // "ß" upper-cases to "SS" and "ŉ" to "ʼN": written as they are, still the sentence's first letter
        {"ßa ist gut", "ßa ist gut."},
        {"ok. ßb", "Ok. ßb."},
        {"ŉ test", "ŉ test."},
        {"um uh", ""},  // only fillers: empty, no full stop
    });
}

TEST(RuleBasedFormatter, SameResultsFromManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) wrong += RuleBasedFormatter::formatted("um hello new line uh world ?") != "Hello \n World?";
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(RuleBasedFormatter, BothFormattersAnswerOnTheCallersExecutor) {
    ManualExecutor executor;
    std::vector<std::string> answers;
    auto reply = [&] { return Reply<std::string>(executor, [&](std::string s) { answers.push_back(std::move(s)); }); };
    RuleBasedFormatter().format("um hello", reply());
    PassthroughFormatter passthrough;  // trims only
    for (const char* text : {" \n um  new line hello \t\n", "   "}) passthrough.format(text, reply());
    EXPECT_TRUE(answers.empty());
    executor.runUntilIdle();
    EXPECT_EQ(answers, (std::vector<std::string>{"Hello.", "um  new line hello", ""}));
}

}  // namespace
}  // namespace zarn
