// Word error rate and real-time factor of the system speech engine (PocketSphinx behind
// AppleSpeechEngine, fed through AudioCapture) on the LibriVox clips of pocketsphinx-testdata,
// beside pocketsphinx_continuous on the same clips in the same run; then what biasing with
// dictionary phrases buys on real recordings.
//
//   speech_apple_bench [--bias-weight W] [--no-continuous]

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/WavFileInput.h"
#include "base/Log.h"
#include "base/ManualExecutor.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "support/Continuous.h"
#include "systemspeech/AppleSpeechEngine.h"

extern char** environ;

namespace {

using namespace zarn;
namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

const fs::path kData = "/usr/share/pocketsphinx/test/data/librivox";
const fs::path kModel = "/usr/share/pocketsphinx/model/en-us";

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::string w;
    for (char c : text + " ") {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '\'') {
            w += static_cast<char>(std::tolower(u));
        } else if (!w.empty()) {
            if (w != "s" || out.empty()) out.push_back(w);
            w.clear();
        }
    }
    out.erase(std::remove_if(out.begin(), out.end(), [](const std::string& x) { return x == "s"; }), out.end());
    return out;
}

// Word-level edit distance.
std::size_t errors(const std::vector<std::string>& ref, const std::vector<std::string>& hyp) {
    std::vector<std::size_t> prev(hyp.size() + 1), cur(hyp.size() + 1);
    for (std::size_t j = 0; j <= hyp.size(); ++j) prev[j] = j;
    for (std::size_t i = 1; i <= ref.size(); ++i) {
        cur[0] = i;
        for (std::size_t j = 1; j <= hyp.size(); ++j) {
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
        }
        std::swap(prev, cur);
    }
    return prev[hyp.size()];
}

struct Outcome {
    std::string text;
    double wall = 0;
    double cpu = 0;
    double audio = 0;
};

// One dictation from a file, as the command line runs it: capture in the engine's format,
// feed, finish; timed from the first audio to the final text.
Outcome transcribe(const std::shared_ptr<analysis::SpeechFramework>& framework, const fs::path& file,
                   const std::vector<std::string>& phrases) {
    ManualExecutor main;
    auto engine = std::make_shared<AppleSpeechEngine>(
        framework, "en-US", [phrases](Reply<std::vector<std::string>> reply) { reply(phrases); });
    std::shared_ptr<TranscriptionEngine::ChunkStream> stream;
    std::string text;
    bool ended = false;
    engine->start(Reply<Result<std::shared_ptr<TranscriptionEngine::ChunkStream>>>(main, [&](auto result) {
        stream = result.value();
        stream->subscribe(main, [&](TranscriptionChunk c) { text = c.text; }, [&](std::exception_ptr) { ended = true; });
    }));
    main.runUntil([&] { return stream != nullptr; }, std::chrono::minutes(5));

    auto input = WavFileInput::open(file, WavFileInput::Pace::asFastAsConsumed);
    Outcome outcome;
    outcome.audio = input->durationSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = cpuSeconds();
    AudioCapture capture(input);
    std::mutex mutex;
    std::vector<std::shared_ptr<const AudioBuffer>> buffers;
    std::promise<void> inputEnded;
    capture.setOnInputEnd([&](std::exception_ptr) { inputEnded.set_value(); });
    capture.start(AudioFormat::monoFloat(16000),
                  [&](std::shared_ptr<const AudioBuffer> b) {
                      std::lock_guard lock(mutex);
                      buffers.push_back(std::move(b));
                  },
                  nullptr);
    inputEnded.get_future().get();
    capture.stop();
    for (auto& b : buffers) {
        bool done = false;
        engine->feed(AudioChunk{b}, Reply<>(main, [&] { done = true; }));
        main.runUntil([&] { return done; }, std::chrono::minutes(5));
    }
    bool finished = false;
    engine->finish(Reply<>(main, [&] { finished = true; }));
    main.runUntil([&] { return finished && ended; }, std::chrono::minutes(5));
    outcome.wall = Seconds(std::chrono::steady_clock::now() - wall0).count();
    outcome.cpu = cpuSeconds() - cpu0;
    outcome.text = text;
    return outcome;
}

struct Totals {
    std::size_t errors = 0, refWords = 0;
    double wall = 0, cpu = 0, audio = 0;
    void add(const Outcome& o, const std::string& ref) {
        errors += ::errors(words(ref), words(o.text));
        refWords += words(ref).size();
        wall += o.wall;
        cpu += o.cpu;
        audio += o.audio;
    }
    std::string wer() const {
        char b[64];
        std::snprintf(b, sizeof b, "%5.1f%% (%zu/%zu)", 100.0 * static_cast<double>(errors) / static_cast<double>(refWords),
                      errors, refWords);
        return b;
    }
};

std::vector<std::pair<std::string, std::string>> librivox() {
    std::vector<std::pair<std::string, std::string>> clips;
    std::ifstream in(kData / "transcription");
    std::string line;
    while (std::getline(in, line)) {
        const auto open = line.rfind('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::string id = line.substr(open + 1, close - open - 1);
        std::string text = line.substr(0, open);
        for (const char* mark : {"<s>", "</s>"}) {
            for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark)) text.erase(at, std::strlen(mark));
        }
        clips.emplace_back(id, text);
    }
    return clips;
}

}  // namespace

int main(int argc, char** argv) {
    float biasWeight = sphinx::SphinxSpeechFramework::defaultBiasWeight;
    bool runContinuous = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--bias-weight" && i + 1 < argc) biasWeight = std::stof(argv[++i]);
        if (a == "--no-continuous") runContinuous = false;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Log::setSinkForTesting([](const Log::Record&) {});  // keep the figures readable

    // A fresh decoder for every file, as pocketsphinx_continuous has: a decoder adapts to the
    // audio it has heard (cepstral mean), which would make results depend on the order.
    const auto fresh = [&] {
        return std::make_shared<sphinx::SphinxSpeechFramework>(std::vector<fs::path>{kModel.parent_path()}, biasWeight);
    };
    auto framework = fresh();
    const auto load0 = std::chrono::steady_clock::now();
    framework->preload("en-US");
    std::printf("decoder load (once per process): %.2f s\n\n", Seconds(std::chrono::steady_clock::now() - load0).count());

    // Fixed start-up of pocketsphinx_continuous (model loading), measured on half a second of silence.
    const fs::path silence = fs::temp_directory_path() / "zarn-bench-silence.wav";
    {
        std::ofstream out(silence, std::ios::binary);
        const std::uint32_t dataBytes = 16000;
        auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out << "RIFF";
        put32(36 + dataBytes);
        out << "WAVEfmt ";
        put32(16), put16(1), put16(1), put32(16000), put32(32000), put16(2), put16(16);
        out << "data";
        put32(dataBytes);
        out << std::string(dataBytes, '\0');
    }
    double startup = 0;
    if (runContinuous) {
        startup = bench::continuous(silence, kModel).wall;
        std::printf("pocketsphinx_continuous start-up (model load, on 0.5 s of silence): %.2f s wall\n\n", startup);
    }

    std::printf("LibriVox clips (pocketsphinx-testdata)\n");
    std::printf("%-8s %6s | %8s %6s %6s | %8s %6s %6s\n", "clip", "audio", "zarn s", "RTF", "WER", "ps_cont", "RTF*", "WER");
    Totals ours, theirs;
    const auto clips = librivox();
    for (const auto& [id, ref] : clips) {
        const fs::path file = kData / (id + ".wav");
        const Outcome o = transcribe(fresh(), file, {});
        ours.add(o, ref);
        Outcome c;
        if (runContinuous) {
            const auto run = bench::continuous(file, kModel);
            c.text = run.text;
            c.wall = run.wall;
            c.cpu = run.cpu;
            c.audio = o.audio;
            c.wall = std::max(0.0, c.wall - startup);
            theirs.add(c, ref);
        }
        const auto w = [&](const Outcome& x) {
            return 100.0 * static_cast<double>(errors(words(ref), words(x.text))) / static_cast<double>(words(ref).size());
        };
        std::printf("%-8s %5.2fs | %7.2fs %6.3f %5.1f%% | %7.2fs %6.3f %5.1f%%\n", id.substr(id.size() - 4).c_str(), o.audio,
                    o.wall, o.wall / o.audio, w(o), c.wall, runContinuous ? c.wall / o.audio : 0.0, runContinuous ? w(c) : 0.0);
        std::printf("         ref:  %s\n         zarn: %s\n", ref.c_str(), o.text.c_str());
        if (runContinuous) std::printf("         ps:   %s\n", c.text.c_str());
    }
    std::printf("\nall clips: zarn WER %s, RTF %.3f wall, %.3f CPU", ours.wer().c_str(), ours.wall / ours.audio,
                ours.cpu / ours.audio);
    if (runContinuous) {
        std::printf(" | pocketsphinx_continuous WER %s, RTF* %.3f wall (start-up subtracted), %.3f CPU (start-up included)",
                    theirs.wer().c_str(), theirs.wall / theirs.audio, theirs.cpu / theirs.audio);
    }
    std::printf("\n\n");

    // Biasing, on real recordings: the card-game clips of pocketsphinx-testdata with a
    // dictionary of card names, and the LibriVox clips with the novel's names; then a
    // dictionary unrelated to the speech, to see what biasing costs where it does not apply.
    struct Set {
        std::string name;
        std::vector<std::pair<fs::path, std::string>> clips;
        std::vector<std::string> phrases;
    };
    std::vector<std::string> cardNames;
    for (const char* rank : {"ace", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "jack", "queen",
                             "king"}) {
        for (const char* suit : {"clubs", "spades", "hearts"}) cardNames.push_back(std::string(rank) + " of " + suit);
    }
    cardNames.push_back("diamonds");  // 40 phrases, the most a dictionary passes
    std::vector<std::pair<fs::path, std::string>> cards;
    {
        std::ifstream in(kData.parent_path() / "cards" / "cards.transcription");
        std::string line;
        while (std::getline(in, line)) {
            const auto open = line.rfind('(');
            if (open == std::string::npos) continue;
            std::string text = line.substr(0, open);
            for (const char* mark : {"<s>", "</s>"}) {
                for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark)) text.erase(at, std::strlen(mark));
            }
            cards.emplace_back(kData.parent_path() / "cards" / (line.substr(open + 1, 3) + ".wav"), text);
        }
    }
    std::vector<std::pair<fs::path, std::string>> novel;
    for (const auto& [id, ref] : clips) novel.emplace_back(kData / (id + ".wav"), ref);
    const std::vector<std::string> novelNames = {"John Dashwood", "Mrs. Dashwood", "Norland Park", "Marianne", "Elinor",
                                                 "Fanny", "Willoughby", "Edward Ferrars", "Colonel Brandon", "Barton Cottage"};
    const std::vector<std::string> unrelated = {"Kubernetes", "Anya Petrova", "PostgreSQL", "Zarn", "Nginx", "Grafana",
                                                "Jira", "Figma", "Anthropic", "TypeScript", "Siobhan", "standup",
                                                "Claude Code", "pull request", "Slack", "GitHub", "Docker", "Terraform",
                                                "Ansible", "Redis"};
    const std::vector<Set> sets = {{"cards / 40 card names", cards, cardNames},
                                   {"LibriVox / 10 names from the novel", novel, novelNames},
                                   {"LibriVox / 20 unrelated tech terms", novel, unrelated},
                                   {"cards / 20 unrelated tech terms", cards, unrelated}};
    std::printf("Biasing (phrase-model weight %.2f)\n", static_cast<double>(biasWeight));
    for (const auto& set : sets) {
        Totals plain, biased;
        for (const auto& [file, ref] : set.clips) {
            const Outcome a = transcribe(fresh(), file, {});
            const Outcome b = transcribe(fresh(), file, set.phrases);
            plain.add(a, ref);
            biased.add(b, ref);
            if (set.phrases != unrelated) {
                std::printf("  ref:    %s\n  plain:  %s\n  biased: %s\n", ref.c_str(), a.text.c_str(), b.text.c_str());
            }
        }
        std::printf("%-36s WER %s plain → %s biased; RTF %.3f → %.3f wall\n\n", set.name.c_str(), plain.wer().c_str(),
                    biased.wer().c_str(), plain.wall / plain.audio, biased.wall / biased.audio);
    }
    fs::remove(silence);
    return 0;
}
