// zarn transcribe: one dictation from an audio file, through the real pipeline (capture and
// conversion, the engine, cleanup, dictionary corrections, the run record).

#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <semaphore>
#include <string>

#include "app/Services.h"
#include "audio/AudioCapture.h"
#include "audio/WavFileInput.h"
#include "base/EventLoop.h"
#include "base/Unicode.h"
#include "cli/Command.h"
#include "cli/DictionaryOptions.h"
#include "dictation/DictationFinisher.h"
#include "dictionary/DictionaryStore.h"
#include "history/RunJson.h"
#include "history/RunLog.h"
#include "settings/Settings.h"
#include "speech/NemotronEngine.h"

namespace {

using namespace zarn;

// The words as given; parse() turns them into Options.
struct Arguments {
    std::string engine, model, rawRate, dictionary, audio;
    bool noCleanup = false, smart = false, json = false, record = false;
};

struct Options {
    std::optional<SpeechEngineChoice> engine;
    std::string model;
    bool noCleanup = false;
    bool smart = false;
    bool json = false;
    bool record = false;
    double rawRate = 0;
    cli::DictionaryFile dictionary;
    std::string audio;
};

Options parse(const Arguments& a) {
    Options o;
    if (!a.engine.empty()) {
        // "system" and "local" say what the engines are on this platform.
        o.engine = a.engine == "system" ? SpeechEngineChoice::apple
                   : a.engine == "local" ? SpeechEngineChoice::nemotron
                                         : speechEngineChoice::fromRawValue(a.engine);
        if (!o.engine) throw cli::UsageError("unknown engine '" + a.engine + "' (apple or system, nemotron or local)");
    }
    o.model = a.model;
    if (!a.rawRate.empty()) {
        try {
            o.rawRate = std::stod(a.rawRate);
        } catch (const std::exception&) {
            o.rawRate = 0;
        }
        if (!(o.rawRate >= 1000 && o.rawRate <= 768000)) throw cli::UsageError("--raw-rate needs a sample rate in Hz");
    }
    o.noCleanup = a.noCleanup;
    o.smart = a.smart;
    o.json = a.json;
    o.record = a.record;
    o.dictionary = cli::dictionaryFile(a.dictionary);
    o.audio = a.audio;
    if (!o.model.empty() && o.engine == SpeechEngineChoice::apple) {
        throw cli::UsageError("--model is for the nemotron engine");
    }
    if (!o.model.empty() && !o.engine) o.engine = SpeechEngineChoice::nemotron;
    return o;
}

// One dictation over the file, on the main loop: start the engine, capture the file in the
// engine's format and feed it chunk by chunk, finish, then clean up and correct.
class FileDictation {
public:
    FileDictation(EventLoop& loop, std::shared_ptr<TranscriptionEngine> engine, std::shared_ptr<WavFileInput> input)
        : loop_(loop), engine_(std::move(engine)), input_(input), capture_(std::move(input)) {}

    // The engine's last text, or the error that ended the dictation.
    Result<std::string> run() {
        engine_->start(Reply<Result<std::shared_ptr<TranscriptionEngine::ChunkStream>>>(loop_, [this](auto result) {
            if (!result.ok()) return fail(result.error());
            stream_ = result.value();
            stream_->subscribe(
                loop_, [this](TranscriptionChunk chunk) { transcript_ = chunk.text; },
                [this](std::exception_ptr error) {
                    if (error) return fail(error);
                    streamEnded_ = true;
                    maybeDone();
                });
            engine_->preferredInputFormat(
                Reply<std::optional<AudioFormat>>(loop_, [this](auto format) { startCapture(format); }));
        }));
        loop_.run();
        capture_.stop();
        if (error_) return error_;
        return transcript_;
    }

    SystemTime audioEndedAt() const { return audioEndedAt_; }

private:
    void startCapture(const std::optional<AudioFormat>& format) {
        if (failed_) return;
        if (!format) return fail(std::make_exception_ptr(TranscriptionError::noAudioFormat()));
        // The file waits for the engine: a chunk is read only when there is room for it.
        capture_.setOnInputEnd([this](std::exception_ptr error) {
            loop_.post([this, error] {
                if (error) return fail(error);
                inputEnded_ = true;
                audioEndedAt_ = std::chrono::system_clock::now();
                pump();
            });
        });
        try {
            capture_.start(*format,
                           [this](std::shared_ptr<const AudioBuffer> buffer) {
                               room_.acquire();
                               loop_.post([this, buffer = std::move(buffer)] {
                                   pending_.push_back(buffer);
                                   pump();
                               });
                           },
                           nullptr);
        } catch (...) {
            fail(std::current_exception());
        }
    }

    void pump() {
        if (failed_ || feeding_ || finishing_) return;
        if (!pending_.empty()) {
            feeding_ = true;
            auto buffer = std::move(pending_.front());
            pending_.pop_front();
            engine_->feed(AudioChunk{std::move(buffer)}, Reply<>(loop_, [this] {
                              feeding_ = false;
                              room_.release();
                              pump();
                          }));
            return;
        }
        if (!inputEnded_) return;
        finishing_ = true;
        capture_.stop();
        engine_->finish(Reply<>(loop_, [this] {
            finished_ = true;
            maybeDone();
        }));
    }

    void maybeDone() {
        if (finished_ && streamEnded_) loop_.quit();
    }

    void fail(std::exception_ptr error) {
        if (failed_) return;
        failed_ = true;
        error_ = error;
        if (stream_) stream_->cancel();
        // Unblock the file's thread before stopping it.
        for (int i = 0; i < kRoom; ++i) room_.release();
        capture_.stop();
        loop_.quit();
    }

    static constexpr int kRoom = 64;
    EventLoop& loop_;
    std::shared_ptr<TranscriptionEngine> engine_;
    std::shared_ptr<WavFileInput> input_;
    AudioCapture capture_;
    std::shared_ptr<TranscriptionEngine::ChunkStream> stream_;
    std::counting_semaphore<1 << 20> room_{kRoom};
    std::deque<std::shared_ptr<const AudioBuffer>> pending_;
    std::string transcript_;
    std::exception_ptr error_;
    SystemTime audioEndedAt_ = std::chrono::system_clock::now();
    bool feeding_ = false, inputEnded_ = false, finishing_ = false, finished_ = false, streamEnded_ = false,
         failed_ = false;
};

// Where `--record` puts the run: the history file, keeping the error for the user.
class HistoryRecorder final : public RunRecorder {
public:
    explicit HistoryRecorder(bool enabled) : enabled_(enabled) {}
    void record(const DictationRun& run) override {
        if (enabled_ && !RunLog(RunLog::defaultFile()).record(run, &error_) && error_.empty()) {
            error_ = "unknown error";
        }
    }
    const std::string& error() const { return error_; }

private:
    bool enabled_;
    std::string error_;
};

// The exit status when the audio held no speech: not a failure of the command, but a
// script must be able to tell it from a transcript.
constexpr int kNoSpeech = 3;

int runTranscribe(const Arguments& arguments, cli::CommandContext& context) {
    const Options options = parse(arguments);

    services::installSpeech();
    Settings& settings = Settings::shared();

    std::shared_ptr<WavFileInput> input;
    try {
        input = options.rawRate > 0
                    ? WavFileInput::openRaw(options.audio, {options.rawRate, 1, SampleType::int16, false},
                                            WavFileInput::Pace::asFastAsConsumed)
                    : WavFileInput::open(options.audio, WavFileInput::Pace::asFastAsConsumed);
    } catch (const LocalizedError& e) {
        context.err << e.errorDescription() << "\n";
        return 1;
    }
    if (!input->warning().empty()) context.err << "zarn transcribe: " << input->warning() << "\n";

    EventLoop loop;
    DictionaryStore dictionary(options.dictionary.path, loop, false);
    cli::reportUnreadable(dictionary, options.dictionary, context.err);

    const SpeechEngineChoice choice = options.engine.value_or(settings.engine());
    std::shared_ptr<TranscriptionEngine> engine;
    if (!options.model.empty()) {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::file_status status = fs::status(options.model, ec);
        if (!fs::is_regular_file(status)) {
            const std::string why = status.type() == fs::file_type::not_found ? "no such file"
                                    : fs::is_directory(status)                ? "it is a folder"
                                    : status.type() == fs::file_type::none    ? ec.message()
                                                                              : "not a regular file";
            context.err << "Can't read the model file " << options.model << ": " << why << ".\n";
            return 1;
        }
        engine = makeNemotronEngineForModelFile(options.model);
    } else {
        engine = services::makeEngine(choice, loop, dictionary);
    }

    FileDictation dictation(loop, engine, input);
    Result<std::string> transcript = dictation.run();
    if (!transcript.ok()) {
        context.err << describeError(transcript.error()) << "\n";
        return 1;
    }
    const std::string text = unicode::trimWhitespaceAndNewlines(transcript.value());
    if (text.empty()) {
        context.err << "No speech recognised in " << options.audio << "\n";
        return kNoSpeech;
    }

    // The same finishing steps as a dictation in the application.
    HistoryRecorder recorder(options.record);
    DictationFinisher finisher(SystemClock::shared(), nullptr,
                               services::formatterFactory(loop, services::makeLanguageModel(settings.defaults())),
                               dictionary, recorder);
    std::string afterCleanup = text;
    if (auto formatter = finisher.formatterFor(settings.cleanupEnabled() && !options.noCleanup,
                                               options.smart || settings.smartCleanup())) {
        bool done = false;
        formatter->format(text, Reply<std::string>(loop, [&](std::string out) {
                              afterCleanup = std::move(out);
                              done = true;
                              loop.quit();
                          }));
        if (!done) loop.run();
    }
    const DictationRun run = finisher.correctAndRecord(
        afterCleanup, DictationFinisher::Timing{dictation.audioEndedAt(), input->durationSeconds(),
                                                std::string(speechEngineChoice::displayName(choice))});

    if (options.json) {
        const auto line = encodeRunLine(run);
        if (!line) {
            context.err << "the run cannot be written as JSON\n";
            return 1;
        }
        context.out << *line << "\n";
    } else {
        context.out << run.text << "\n";
    }
    // The words come first: they are printed even when the history cannot take them.
    if (!recorder.error().empty()) {
        context.err << "the run was not recorded: " << recorder.error() << "\n";
        return 1;
    }
    return 0;
}

cli::Registration reg{{"transcribe", "Dictate from an audio file through the whole pipeline and print the text.",
                       [](CLI::App& app) {
    auto a = std::make_shared<Arguments>();
    app.add_option("--engine", a->engine, "The speech engine instead of the one in the settings.")
        ->type_name("apple|system|nemotron|local");
    app.add_option("--model", a->model, "Transcribe with this model file (the nemotron engine).")->type_name("FILE");
    app.add_flag("--no-cleanup", a->noCleanup, "Leave the text as the engine gave it.");
    app.add_flag("--smart", a->smart, "Clean up by the local language-model server.");
    cli::addDictionaryOption(app, a->dictionary);
    app.add_flag("--json", a->json, "Print the run record as one line of JSON instead of the text.");
    app.add_flag("--record", a->record, "Keep the run in the history.");
    app.add_option("--raw-rate", a->rawRate, "Read AUDIO as bare 16-bit mono samples at this rate.")->type_name("HZ");
    app.add_option("AUDIO", a->audio,
                   "A WAV file: 16/32-bit PCM or 32-bit float, any rate, mono or stereo.")
        ->required();
    app.footer("Exit status 3 when no speech was recognised.");
    return cli::Runner([a](cli::CommandContext& context) { return runTranscribe(*a, context); });
}}};

}  // namespace
