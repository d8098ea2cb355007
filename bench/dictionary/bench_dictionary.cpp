// Dictionary corrections at dictation time: the corrector as the store keeps it, the first
// dictation after the file changed, and a 100 000-entry dictionary through the store's load
// path. Prints median and worst times over repeated runs.
//
//   bench_dictionary                      all figures
//   bench_dictionary --write FILE [N]     writes a dictionary of N (100 000) corrections and
//                                         prints a transcript for it, for `zarn correct`

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/EventLoop.h"
#include "dictionary/DictionaryCorrector.h"
#include "dictionary/DictionaryStore.h"

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
    double medianCpuMs;  // this thread's processor time: what the figure would be on an idle machine
};

double threadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

template <class F>
Figures measure(int runs, F&& body) {
    std::vector<double> times, cpu;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        double cpuStart = threadCpuMs();
        body();
        cpu.push_back(threadCpuMs() - cpuStart);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    return {times[times.size() / 2], times.back(), cpu[cpu.size() / 2]};
}

void print(const char* what, Figures f) {
    std::printf("  %-52s median %8.2f ms (cpu %8.2f ms), worst %8.2f ms\n", what, f.medianMs, f.medianCpuMs,
                f.worstMs);
}

struct Workload {
    std::vector<zarn::DictionaryEntry> entries;
    std::string transcript;
};

// `corrections` two-word heard phrases; 300 words of ordinary text with one of them in place
// of every 15th pair.
Workload workload(int corrections) {
    Lcg rng;
    Workload w;
    std::vector<std::string> heard;
    for (int i = 0; i < corrections; ++i) {
        heard.push_back(pseudoWord(rng) + " " + pseudoWord(rng));
        w.entries.push_back(zarn::DictionaryEntry::correction(heard.back(), "Fixed" + std::to_string(i)));
    }
    static const char* plain[] = {"the", "quick", "review", "of", "our", "build", "showed", "that", "tests", "pass"};
    for (int words = 0; words < 300; ++words) {
        w.transcript += words == 0 ? "" : " ";
        if (words % 30 == 14) {
            w.transcript += heard[rng.next() % heard.size()];
            ++words;
        } else {
            w.transcript += plain[rng.next() % 10];
        }
    }
    return w;
}

void atDictationTime(int corrections, int runs) {
    Workload w = workload(corrections);
    std::printf("corrections=%d, 300-word transcript, runs=%d\n", corrections, runs);
    zarn::DictionaryCorrector corrector;
    zarn::CorrectionResult result;
    // Start-up, or the first dictation after the file changed with nothing compiled before.
    print("first dictation, nothing compiled (build + apply)", measure(runs, [&] {
              corrector = zarn::DictionaryCorrector(w.entries);
              result = corrector.apply(w.transcript);
          }));
    // The file changed (one entry edited): the rules that did not change keep their expressions.
    auto edited = w.entries;
    edited[0].write = "Edited";
    print("first dictation after the file changed", measure(runs, [&] {
              zarn::DictionaryCorrector next(edited, {}, &corrector);
              result = next.apply(w.transcript);
          }));
    print("apply (every later dictation)", measure(runs, [&] { result = corrector.apply(w.transcript); }));
    const std::size_t compiled = corrector.compiledCount();
    print("apply running every rule (no index)", measure(std::min(runs, 5), [&] {
              result = corrector.applyEveryRule(w.transcript);
          }));
    long replaced = 0;
    for (const auto& a : result.applied) replaced += a.count;
    std::printf("  %zu rules matched, %ld replacements, %zu of %zu rules compiled by apply\n", result.applied.size(),
                replaced, compiled, corrector.ruleCount());
}

// The whole of `zarn correct` but the process: the file read and parsed by the store, the
// corrector built, one transcript corrected.
void largeDictionary(int corrections, int runs) {
    Workload w = workload(corrections);
    auto folder = std::filesystem::temp_directory_path() / ("zarn-bench-dictionary-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto file = folder / "dictionary.txt";
    std::ofstream(file) << zarn::DictionaryStore::fileText(w.entries);
    std::printf("corrections=%d (%ju bytes of dictionary.txt), runs=%d\n", corrections,
                static_cast<std::uintmax_t>(std::filesystem::file_size(file)), runs);
    zarn::EventLoop loop;
    print("store load (read, parse)", measure(runs, [&] { zarn::DictionaryStore store(file, loop, false); }));
    zarn::DictionaryStore store(file, loop, false);
    zarn::DictionaryCorrector corrector;
    print("corrector build", measure(runs, [&] { corrector = zarn::DictionaryCorrector(store.entries()); }));
    print("apply", measure(runs, [&] { corrector.apply(w.transcript); }));
    print("load + build + apply (zarn correct without start-up)", measure(runs, [&] {
              zarn::DictionaryStore fresh(file, loop, false);
              fresh.corrector().apply(w.transcript);
          }));
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak resident size of this process: %ld MB\n", usage.ru_maxrss / 1024);
    std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--write") {
        Workload w = workload(argc >= 4 ? std::atoi(argv[3]) : 100000);
        std::ofstream(argv[2]) << zarn::DictionaryStore::fileText(w.entries);
        std::printf("%s\n", w.transcript.c_str());
        return 0;
    }
    atDictationTime(1000, 15);
    atDictationTime(50, 50);  // a typical dictionary
    largeDictionary(100000, 3);
    return 0;
}
