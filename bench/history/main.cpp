// Run history figures over a generated runs.jsonl: load (against the nlohmann-json decoder
// the history used before, on the same file in the same run), one append, one record and one
// delete through the store the application uses, and a delete through RunLog alone.
// Usage: bench_history [LINES]

#include <algorithm>
#include <chrono>
#include <ctime>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/Dates.h"
#include "base/EventLoop.h"
#include "base/Uuid.h"
#include "history/RunJson.h"
#include "history/RunLog.h"
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

// The decoder the history used before simdjson, kept here as the reference for the load figure.
std::optional<zarn::DictationRun> nlohmannDecode(std::string_view line) {
    using nlohmann::json;
    json object = json::parse(line.begin(), line.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    auto string = [](const json& o, const char* key) -> std::optional<std::string> {
        auto it = o.find(key);
        if (it == o.end() || !it->is_string()) return std::nullopt;
        return it->get<std::string>();
    };
    auto number = [](const json& o, const char* key) -> std::optional<double> {
        auto it = o.find(key);
        if (it == o.end() || !it->is_number()) return std::nullopt;
        return it->get<double>();
    };
    zarn::DictationRun run;
    auto id = object.find("id");
    if (id == object.end() || id->is_null()) {
        run.id = zarn::makeUuid();
    } else {
        if (!id->is_string() || !zarn::isUuid(id->get_ref<const std::string&>())) return std::nullopt;
        run.id = id->get<std::string>();
        for (auto& c : run.id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    auto date = string(object, "date");
    auto parsed = date ? zarn::parseIso8601(*date) : std::nullopt;
    auto engine = string(object, "engine");
    auto audioSeconds = number(object, "audioSeconds");
    auto processSeconds = number(object, "processSeconds");
    auto text = string(object, "text");
    if (!parsed || !engine || !audioSeconds || !processSeconds || !text) return std::nullopt;
    run.date = *parsed;
    run.engine = std::move(*engine);
    run.audioSeconds = *audioSeconds;
    run.processSeconds = *processSeconds;
    run.text = std::move(*text);
    auto corrections = object.find("corrections");
    if (corrections != object.end() && !corrections->is_null()) {
        if (!corrections->is_array()) return std::nullopt;
        std::vector<zarn::AppliedCorrection> list;
        for (const auto& element : *corrections) {
            if (!element.is_object()) return std::nullopt;
            auto from = string(element, "from");
            auto to = string(element, "to");
            auto count = element.find("count");
            if (!from || !to || count == element.end() || !count->is_number_integer()) return std::nullopt;
            if (count->is_number_unsigned() && count->get<std::uint64_t>() > static_cast<std::uint64_t>(LONG_MAX)) {
                return std::nullopt;
            }
            list.push_back({std::move(*from), std::move(*to), count->get<long>()});
        }
        run.corrections = std::move(list);
    }
    return run;
}

std::vector<zarn::DictationRun> nlohmannLoad(const std::filesystem::path& file) {
    std::vector<zarn::DictationRun> runs;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (auto run = nlohmannDecode(line)) runs.push_back(std::move(*run));
    }
    return runs;
}

double cpuMilliseconds() {
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Timing {
    double wall, cpu;  // medians, milliseconds
};

// `rounds` calls of `load`; the list it returns is freed outside the clock. The processor time
// is the steadier figure on a machine busy with other work.
template <class Load>
Timing timeLoads(int rounds, Load load, std::vector<zarn::DictationRun>& result) {
    std::vector<double> walls, cpus;
    for (int round = 0; round < rounds; ++round) {
        result.clear();
        auto start = Clock::now();
        const double cpuStart = cpuMilliseconds();
        result = load();
        cpus.push_back(cpuMilliseconds() - cpuStart);
        walls.push_back(millisecondsSince(start));
    }
    return {median(walls), median(cpus)};
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

    std::vector<zarn::DictationRun> loaded, reference;
    const Timing load = timeLoads(5, [&] { return log.load(); }, loaded);
    const Timing referenceLoad = timeLoads(3, [&] { return nlohmannLoad(file); }, reference);
    if (loaded != reference) {
        std::fprintf(stderr, "the two decoders read the file differently\n");
        return 1;
    }

    std::vector<double> appends;
    for (int round = 0; round < 21; ++round) {
        auto run = makeRun(lines + round);
        auto start = Clock::now();
        if (!log.record(run)) return 1;
        appends.push_back(millisecondsSince(start));
    }

    // What the application does per dictation and per delete, over the whole history.
    zarn::EventLoop loop;
    auto storeStart = Clock::now();
    zarn::RunStore store(std::make_shared<zarn::RunLog>(file), loop, false);
    const double storeLoadMs = millisecondsSince(storeStart);
    std::vector<double> records;
    for (int round = 0; round < 21; ++round) {
        auto run = makeRun(lines + 100 + round);
        auto start = Clock::now();
        store.record(run);
        records.push_back(millisecondsSince(start));
    }
    auto start = Clock::now();
    store.deleteRun(store.runs()[static_cast<std::size_t>(lines / 3)]);
    const double storeDeleteMs = millisecondsSince(start);

    const auto victim = store.runs()[static_cast<std::size_t>(lines / 2)];
    start = Clock::now();
    const auto removed = log.deleteRun(victim);
    const double deleteMs = millisecondsSince(start);

    std::printf("runs.jsonl: %d lines, %.1f MB\n", lines, static_cast<double>(bytes) / 1e6);
    std::printf("load (RunLog, simdjson):  median %.1f ms, processor %.1f ms, over 5 rounds (%zu runs)\n", load.wall,
                load.cpu, loaded.size());
    std::printf("load (nlohmann-json):     median %.1f ms, processor %.1f ms, over 3 rounds; %.1fx and %.1fx the time\n",
                referenceLoad.wall, referenceLoad.cpu, referenceLoad.wall / load.wall, referenceLoad.cpu / load.cpu);
    std::printf("append (RunLog):          median %.3f ms, max %.3f ms over %zu\n", median(appends),
                *std::max_element(appends.begin(), appends.end()), appends.size());
    std::printf("store start (whole read): %.1f ms\n", storeLoadMs);
    std::printf("store record:             median %.3f ms, max %.3f ms over %zu (%zu runs)\n", median(records),
                *std::max_element(records.begin(), records.end()), records.size(), store.runs().size());
    std::printf("store delete:             %.1f ms (file rewritten, one run taken from the list)\n", storeDeleteMs);
    std::printf("delete (RunLog):          %.1f ms (removed %zu)\n", deleteMs, removed);

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
