// Building a corrector from many corrections and applying it to a dictation-sized transcript.
// Prints median and worst times over repeated runs.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dictionary/DictionaryCorrector.h"

namespace {

using Clock = std::chrono::steady_clock;

// A small deterministic generator, so every run measures the same dictionary and text.
struct Lcg {
    std::uint64_t state = 0x2545F4914F6CDD1DULL;
    std::uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state >> 33);
    }
};

std::string pseudoWord(Lcg& rng) {
    static const char* syllables[] = {"ka", "lo", "mi", "ren", "tu", "sa", "vor", "el", "din", "qua", "po", "zer"};
    std::string word;
    int n = 2 + static_cast<int>(rng.next() % 2);
    for (int i = 0; i < n; ++i) word += syllables[rng.next() % 12];
    return word;
}

struct Figures {
    double medianMs;
    double worstMs;
};

template <class F>
Figures measure(int runs, F&& body) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        body();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

void run(int corrections, int runs) {
    Lcg rng;
    std::vector<zarn::DictionaryEntry> entries;
    std::vector<std::string> heard;
    for (int i = 0; i < corrections; ++i) {
        std::string hear = pseudoWord(rng) + " " + pseudoWord(rng);
        heard.push_back(hear);
        entries.push_back(zarn::DictionaryEntry::correction(hear, "Fixed" + std::to_string(i)));
    }
    // 300 words of ordinary text with a heard phrase (two words) in place of every 15th pair.
    std::vector<std::string> words;
    static const char* plain[] = {"the", "quick", "review", "of", "our", "build", "showed", "that", "tests", "pass"};
    while (words.size() < 300) {
        if (words.size() % 30 == 14) {
            const std::string& phrase = heard[rng.next() % heard.size()];
            words.push_back(phrase.substr(0, phrase.find(' ')));
            words.push_back(phrase.substr(phrase.find(' ') + 1));
        } else {
            words.push_back(plain[rng.next() % 10]);
        }
    }
    std::string transcript;
    for (const auto& word : words) transcript += (transcript.empty() ? "" : " ") + word;

    zarn::DictionaryCorrector corrector;
    // Cold: every pattern compiled (first dictation, or a new dictionary). Warm: the rules
    // unchanged since the last dictation, as is usual.
    auto cold = measure(runs, [&] {
        zarn::DictionaryCorrector::clearCompiledPatterns();
        corrector = zarn::DictionaryCorrector(entries);
    });
    auto build = measure(runs, [&] { corrector = zarn::DictionaryCorrector(entries); });
    zarn::CorrectionResult result;
    auto apply = measure(runs, [&] { result = corrector.apply(transcript); });
    long replaced = 0;
    for (const auto& a : result.applied) replaced += a.count;
    std::printf("corrections=%d rules=%zu transcript_words=%zu runs=%d\n", corrections, corrector.ruleCount(),
                words.size(), runs);
    std::printf("  build, cold: median %.2f ms, worst %.2f ms\n", cold.medianMs, cold.worstMs);
    std::printf("  build, warm: median %.2f ms, worst %.2f ms\n", build.medianMs, build.worstMs);
    std::printf("  apply:       median %.2f ms, worst %.2f ms (%zu rules matched, %ld replacements)\n", apply.medianMs,
                apply.worstMs, result.applied.size(), replaced);
    std::printf("  per dictation (build + apply): median %.2f ms warm, %.2f ms cold\n",
                build.medianMs + apply.medianMs, cold.medianMs + apply.medianMs);
}

}  // namespace

int main() {
    run(1000, 15);
    run(50, 50);  // a typical dictionary
    return 0;
}
