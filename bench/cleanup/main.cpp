// Time the cleanup adds to one dictation: the rule-based formatter and the plausibility
// test of the smart cleanup, on a typical utterance and on a long one.
#include <chrono>
#include <cstdio>
#include <string>

#include "cleanup/FoundationModelFormatter.h"
#include "cleanup/RuleBasedFormatter.h"

namespace {

template <class F>
double millisecondsPerCall(int calls, F fn) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) fn();
    std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / calls;
}

}  // namespace

int main() {
    const std::string typical =
        "um so I think we should uh ship the new build on tuesday new line then hmm check the open paren "
        "beta close paren feedback and erm write up the notes for the team by friday";
    std::string longText;
    for (int i = 0; i < 20; ++i) longText += typical + " new paragraph ";
    const std::string cleaned =
        "I think we should ship the new build on Tuesday, then check the beta feedback and write up the notes.";

    std::size_t sink = 0;
    std::printf("rule-based, %zu bytes: %.3f ms per transcript\n", typical.size(),
                millisecondsPerCall(200, [&] { sink += zarn::RuleBasedFormatter::formatted(typical).size(); }));
    std::printf("rule-based, %zu bytes: %.3f ms per transcript\n", longText.size(),
                millisecondsPerCall(20, [&] { sink += zarn::RuleBasedFormatter::formatted(longText).size(); }));
    std::printf("plausibility test, %zu bytes: %.3f ms per answer\n", typical.size(),
                millisecondsPerCall(200, [&] { sink += zarn::FoundationModelFormatter::isPlausibleCleanup(typical, cleaned); }));
    // The test must stay linear in the words: a long answer that reorders a long input.
    std::string manyWords, reordered;
    for (int i = 0; i < 50000; ++i) manyWords += "word" + std::to_string(i) + " ";
    for (int i = 49999; i >= 0; --i) reordered += "word" + std::to_string(i) + " ";
    std::printf("plausibility test, 50000 words: %.3f ms per answer\n",
                millisecondsPerCall(1, [&] { sink += zarn::FoundationModelFormatter::isPlausibleCleanup(manyWords, reordered); }));
    // Printed so the work cannot be optimised away.
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
