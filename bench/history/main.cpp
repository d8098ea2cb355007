// Run history figures: load of a 100 000-line runs.jsonl, one append to it, and one delete
// (a full rewrite) for comparison. Usage: bench_history [LINES]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/Uuid.h"
#include "history/RunJson.h"
#include "history/RunLog.h"
#include "base/EventLoop.h"
#include "history/RunStore.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

zarn::DictationRun makeRun(int i) {
    zarn::DictationRun run;
    run.id = zarn::makeUuid();
    run.date = zarn::SystemTime(std::chrono::seconds(1'767'225'600 + i * 37));
    run.engine = i % 2 ? "Apple (streaming)" : "Nemotron (streaming)";
    run.audioSeconds = 1.0 + (i % 97) * 0.137;
    run.processSeconds = 0.05 + (i % 13) * 0.0119;
    run.text = "Dictation number " + std::to_string(i) +
               ": the quick brown fox jumps over the lazy dog, and then it goes on — «ещё немного текста».";
    if (i % 5 == 0) run.corrections = std::vector<zarn::AppliedCorrection>{{"zarn", "Zarn", 1}};
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100'000;
    auto pattern = (std::filesystem::temp_directory_path() / "zarn-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const std::filesystem::path dir = pattern;
    const auto file = dir / "runs.jsonl";

    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < lines; ++i) out << *zarn::encodeRunLine(makeRun(i)) << '\n';
    }
    const auto bytes = std::filesystem::file_size(file);
    zarn::RunLog log(file);

    std::vector<double> loads;
    std::size_t loaded = 0;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        loaded = log.load().size();
        loads.push_back(millisecondsSince(start));
    }

    std::vector<double> appends;
    for (int round = 0; round < 21; ++round) {
        auto run = makeRun(lines + round);
        auto start = Clock::now();
        if (!log.record(run)) return 1;
        appends.push_back(millisecondsSince(start));
    }

    // What the application does per dictation: append, then reload the whole list.
    zarn::EventLoop loop;
    zarn::RunStore store(std::make_shared<zarn::RunLog>(file), loop, false);
    auto storeStart = Clock::now();
    store.record(makeRun(lines + 100));
    double storeRecordMs = millisecondsSince(storeStart);

    auto victim = log.load()[static_cast<std::size_t>(lines / 2)];
    auto start = Clock::now();
    auto removed = log.deleteRun(victim);
    double deleteMs = millisecondsSince(start);

    std::printf("runs.jsonl: %d lines, %.1f MB\n", lines, static_cast<double>(bytes) / 1e6);
    std::printf("load:   median %.1f ms over %zu rounds (%zu runs)\n", median(loads), loads.size(), loaded);
    std::printf("append: median %.3f ms, max %.3f ms over %zu appends\n", median(appends),
                *std::max_element(appends.begin(), appends.end()), appends.size());
    std::printf("store record (append + reload): %.1f ms (%zu runs)\n", storeRecordMs, store.runs().size());
    std::printf("delete: %.1f ms (removed %zu, whole file rewritten)\n", deleteMs, removed);

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
