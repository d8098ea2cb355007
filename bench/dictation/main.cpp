// What the user waits for: whole dictations through the real DictationController on an
// EventLoop, with the system engine on PocketSphinx, the rule cleanup, a 1 000-rule
// dictionary, a 100 000-run history and an inserter that notes the time. The recordings are
// played at their real pace through AudioCapture; the key is released when a recording ends.
//
//   dictation_bench [--runs N]
//
// Medians over the runs of: press → listening (engine warm), release → text inserted, and its
// parts: the engine's finish (release → last text), cleanup, corrections, the record; then
// pocketsphinx_continuous decoding the same file, the floor of the engine's part.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/Services.h"
#include "audio/AudioCapture.h"
#include "audio/WavFileInput.h"
#include "base/EventLoop.h"
#include "base/Log.h"
#include "base/SerialExecutor.h"
#include "dictation/DictationController.h"
#include "dictionary/DictionaryStore.h"
#include "history/RunJson.h"
#include "history/RunStore.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "support/Continuous.h"
#include "systemspeech/AppleSpeechEngine.h"

namespace {

using namespace zarn;
namespace fs = std::filesystem;
using Instant = std::chrono::steady_clock::time_point;

const fs::path kData = "/usr/share/pocketsphinx/test/data";
const fs::path kModel = "/usr/share/pocketsphinx/model/en-us";

Instant now() { return std::chrono::steady_clock::now(); }
double ms(Instant from, Instant to) { return std::chrono::duration<double, std::milli>(to - from).count(); }

// The moments of one dictation, noted by the wrappers below.
struct Marks {
    Instant press, listening, release, engineFinished, cleanupStart, cleanupEnd, correctStart, correctEnd, recordStart,
        recordEnd, inserted;
};
Marks marks;

class TimedEngine final : public TranscriptionEngine {
public:
    TimedEngine(EventLoop& loop, std::shared_ptr<TranscriptionEngine> inner) : loop_(loop), inner_(std::move(inner)) {}
    void preferredInputFormat(Reply<std::optional<AudioFormat>> reply) override {
        inner_->preferredInputFormat(std::move(reply));
    }
    void start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) override {
        // The stream the controller consumes ends after the engine's last text: that is when
        // the engine's part of the wait is over.
        inner_->start(Reply<Result<std::shared_ptr<ChunkStream>>>(
            loop_, [this, reply = std::move(reply)](Result<std::shared_ptr<ChunkStream>> result) mutable {
                if (!result.ok()) return reply(result);
                auto outer = ChunkStream::make();
                result.value()->subscribe(
                    loop_, [outer](TranscriptionChunk chunk) { outer->yield(std::move(chunk)); },
                    [outer](std::exception_ptr error) {
                        marks.engineFinished = now();
                        error ? outer->fail(error) : outer->finish();
                    });
                reply(Result<std::shared_ptr<ChunkStream>>(outer));
            }));
    }
    void feed(AudioChunk chunk, Reply<> done) override { inner_->feed(std::move(chunk), std::move(done)); }
    void finish(Reply<> done) override { inner_->finish(std::move(done)); }

private:
    EventLoop& loop_;
    std::shared_ptr<TranscriptionEngine> inner_;
};

class TimedFormatter final : public TextFormatter {
public:
    TimedFormatter(EventLoop& loop, std::shared_ptr<TextFormatter> inner) : loop_(loop), inner_(std::move(inner)) {}
    void format(std::string text, Reply<std::string> done) override {
        marks.cleanupStart = now();
        inner_->format(std::move(text), Reply<std::string>(loop_, [done = std::move(done)](std::string out) mutable {
                           marks.cleanupEnd = now();
                           done(std::move(out));
                       }));
    }

private:
    EventLoop& loop_;
    std::shared_ptr<TextFormatter> inner_;
};

class TimedCorrections final : public DictionaryCorrections {
public:
    explicit TimedCorrections(DictionaryCorrections& inner) : inner_(inner) {}
    CorrectionResult applyCorrections(const std::string& text) override {
        marks.correctStart = now();
        auto result = inner_.applyCorrections(text);
        marks.correctEnd = now();
        return result;
    }

private:
    DictionaryCorrections& inner_;
};

class TimedRecorder final : public RunRecorder {
public:
    explicit TimedRecorder(RunRecorder& inner) : inner_(inner) {}
    void record(const DictationRun& run) override {
        marks.recordStart = now();
        inner_.record(run);
        marks.recordEnd = now();
    }

private:
    RunRecorder& inner_;
};

class NotingInserter final : public TextInserter {
public:
    std::string last;
    void insert(const std::string& text) override {
        marks.inserted = now();
        last = text;
    }
};

class Granted final : public MicrophonePermission {
public:
    void requestMicrophone(Reply<bool> reply) override { reply(true); }
};
class NoKey final : public KeyMonitor {
public:
    void setKey(PushToTalkKey) override {}
    void setOnPress(std::function<void()>) override {}
    void setOnRelease(std::function<void()>) override {}
    bool start() override { return true; }
    void stop() override {}
    bool isRunning() const override { return true; }
};
class Silent final : public SoundPlayer {
public:
    void play(const std::string&) override {}
};

// The controller's capture over whichever recording the next dictation plays; the key is
// released when it ends.
class FileCapture final : public AudioCapturing {
public:
    explicit FileCapture(EventLoop& loop) : loop_(loop) {}
    std::shared_ptr<WavFileInput> next;
    std::function<void()> onEnd;

    void start(const AudioFormat& format, OnBuffer onBuffer, OnLevel onLevel) override {
        capture_ = std::make_unique<AudioCapture>(next);
        capture_->setOnInputEnd([this](std::exception_ptr) { loop_.post([this] { if (onEnd) onEnd(); }); });
        capture_->start(format, std::move(onBuffer), std::move(onLevel));
    }
    void stop() override {
        if (capture_) capture_->stop();
    }

private:
    EventLoop& loop_;
    std::unique_ptr<AudioCapture> capture_;
};

void writeDictionary(const fs::path& file) {
    std::ofstream out(file);
    out << DictionaryStore::header;
    for (int i = 0; i < 1000; ++i) out << "heard phrase " << i << " -> written " << i << "\n";
}

void writeHistory(const fs::path& file) {
    std::ofstream out(file);
    for (int i = 0; i < 100000; ++i) {
        DictationRun run{.id = "00000000-0000-4000-8000-" + std::to_string(100000000000LL + i),
                         .date = std::chrono::system_clock::now(),
                         .engine = "Apple (streaming)",
                         .audioSeconds = 4.2,
                         .processSeconds = 0.31,
                         .text = "A dictation of a few sentences, about as long as people dictate at once. " +
                                 std::to_string(i)};
        out << *encodeRunLine(run) << "\n";
    }
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--runs") runs = std::max(1, std::stoi(argv[i + 1]));
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Log::setSinkForTesting([](const Log::Record&) {});

    const fs::path dir = fs::temp_directory_path() / ("zarn-dictation-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    writeDictionary(dir / "dictionary.txt");
    writeHistory(dir / "runs.jsonl");

    EventLoop loop;
    SerialExecutor background("zarn-feed");
    Settings settings(std::make_shared<DefaultsStore>(dir / "defaults.json"), [] { return true; });
    DictionaryStore dictionary(dir / "dictionary.txt", loop, false);
    RunStore store(std::make_shared<RunLog>(dir / "runs.jsonl"), loop, false);
    TimedCorrections corrections(dictionary);
    TimedRecorder recorder(store);
    NotingInserter inserter;
    Granted microphone;
    Silent sounds;
    auto capture = std::make_unique<FileCapture>(loop);
    FileCapture& files = *capture;
    auto framework = std::make_shared<sphinx::SphinxSpeechFramework>(std::vector<fs::path>{kModel.parent_path()});
    framework->preload("en-US");  // warm, as the application keeps it
    auto rules = services::formatterFactory(loop, nullptr);

    DictationController controller({
        .main = loop,
        .background = background,
        .clock = SystemClock::shared(),
        .settings = settings,
        .microphone = microphone,
        .hotkey = std::make_unique<NoKey>(),
        .capture = std::move(capture),
        .makeEngine =
            [&] {
                return std::make_shared<TimedEngine>(loop, std::make_shared<AppleSpeechEngine>(
                    framework, "en-US",
                    AppleSpeechEngine::biasPhrasesOn(loop, [&dictionary] { return dictionary.biasPhrases(); })));
            },
        .formatter = nullptr,
        .makeFormatter = [&loop, &rules](bool smart) { return std::make_shared<TimedFormatter>(loop, rules(smart)); },
        .dictionary = corrections,
        .recorder = recorder,
        .inserter = inserter,
        .sounds = sounds,
    });
    controller.activate();
    auto listening = controller.observeState([](const DictationController::State& state) {
        if (state == DictationController::State::listening()) marks.listening = now();
    });
    files.onEnd = [&] {
        marks.release = now();
        controller.stopButtonRecording();
    };

    struct Clip {
        std::string name;
        std::function<std::shared_ptr<WavFileInput>()> open;
        fs::path file;
    };
    std::vector<Clip> clips{{"goforward", [] {
                                 return WavFileInput::openRaw(kData / "goforward.raw", {16000, 1, SampleType::int16, false},
                                                              WavFileInput::Pace::realTime);
                             },
                             kData / "goforward.raw"}};
    for (const auto& entry : fs::directory_iterator(kData / "librivox")) {
        if (entry.path().extension() != ".wav") continue;
        const fs::path file = entry.path();
        clips.push_back({file.stem().string(), [file] { return WavFileInput::open(file, WavFileInput::Pace::realTime); }, file});
    }
    std::sort(clips.begin() + 1, clips.end(), [](const Clip& a, const Clip& b) { return a.name < b.name; });

    const double startup = bench::continuous(kData / "goforward.raw", kModel).wall;  // a raw file: fails fast, loads the model
    std::printf("history %d runs, dictionary 1000 corrections, %d run(s) per recording; milliseconds, medians\n", 100000, runs);
    std::printf("%-10s %9s %9s | %8s %8s %8s %8s %8s | %9s\n", "recording", "press→lis", "release→", "engine", "cleanup",
                "correct", "record", "after", "ps_cont");
    for (const auto& clip : clips) {
        std::map<std::string, std::vector<double>> figures;
        for (int run = 0; run < runs; ++run) {
            marks = {};
            files.next = clip.open();
            marks.press = now();
            controller.startButtonRecording();
            loop.runUntil([&] { return controller.state().kind == DictationController::State::Kind::idle &&
                                       marks.inserted != Instant{}; },
                          std::chrono::minutes(5));
            figures["listen"].push_back(ms(marks.press, marks.listening));
            figures["wait"].push_back(ms(marks.release, marks.inserted));
            figures["engine"].push_back(ms(marks.release, marks.engineFinished));
            figures["cleanup"].push_back(ms(marks.cleanupStart, marks.cleanupEnd));
            figures["correct"].push_back(ms(marks.correctStart, marks.correctEnd));
            figures["record"].push_back(ms(marks.recordStart, marks.recordEnd));
            figures["after"].push_back(ms(marks.engineFinished, marks.inserted));
        }
        const double floor = clip.file.extension() == ".wav" ? std::max(0.0, bench::continuous(clip.file, kModel).wall - startup) * 1000 : 0;
        std::printf("%-10s %9.1f %9.1f | %8.1f %8.2f %8.2f %8.2f %8.2f | %9.1f\n", clip.name.c_str(),
                    median(figures["listen"]), median(figures["wait"]), median(figures["engine"]),
                    median(figures["cleanup"]), median(figures["correct"]), median(figures["record"]),
                    median(figures["after"]), floor);
    }
    std::printf("ps_cont: pocketsphinx_continuous on the whole file, its model loading subtracted (WAV files only)\n");
    controller.deactivate();
    fs::remove_all(dir);
    return 0;
}
