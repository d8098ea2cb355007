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

#include "audio/AudioCapture.h"
#include "audio/WavFileInput.h"
#include "base/EventLoop.h"
#include "base/Log.h"
#include "base/Unicode.h"
#include "base/Uuid.h"
#include "cleanup/FoundationModelFormatter.h"
#include "cleanup/RuleBasedFormatter.h"
#include "cli/Command.h"
#include "cli/DictionaryOptions.h"
#include "dictionary/DictionaryStore.h"
#include "history/RunJson.h"
#include "history/RunLog.h"
#include "platform/linux/llm/OpenAICompatibleModel.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "settings/Settings.h"
#include "speech/NemotronEngine.h"
#include "systemspeech/AppleSpeechEngine.h"

namespace {

using namespace zarn;
using Clock = std::chrono::steady_clock;

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

Options parse(std::vector<std::string> args) {
    Options o;
    std::string value;
    if (cli::takeOption(args, "--engine", value)) {
        o.engine = speechEngineChoice::fromRawValue(value);
        if (!o.engine) throw cli::UsageError("unknown engine '" + value + "' (apple or nemotron)");
    }
    cli::takeOption(args, "--model", o.model);
    if (cli::takeOption(args, "--raw-rate", value)) {
        try {
            o.rawRate = std::stod(value);
        } catch (const std::exception&) {
            o.rawRate = 0;
        }
        if (!(o.rawRate >= 1000 && o.rawRate <= 768000)) throw cli::UsageError("--raw-rate needs a sample rate in Hz");
    }
    o.noCleanup = cli::takeFlag(args, "--no-cleanup");
    o.smart = cli::takeFlag(args, "--smart");
    o.json = cli::takeFlag(args, "--json");
    o.record = cli::takeFlag(args, "--record");
    o.dictionary = cli::takeDictionaryOption(args);
    for (const auto& arg : args) {
        if (arg.size() > 1 && arg[0] == '-') throw cli::UsageError("unknown option " + arg);
    }
    if (args.size() != 1) throw cli::UsageError(args.empty() ? "no audio file given" : "one audio file at a time");
    o.audio = args[0];
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

    Clock::time_point audioEnded() const { return audioEnded_; }
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
                audioEnded_ = Clock::now();
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
    Clock::time_point audioEnded_ = Clock::now();
    SystemTime audioEndedAt_ = std::chrono::system_clock::now();
    bool feeding_ = false, inputEnded_ = false, finishing_ = false, finished_ = false, streamEnded_ = false,
         failed_ = false;
};

std::string cleaned(const std::string& text, bool smart) {
    if (!smart) return RuleBasedFormatter::formatted(text);
    EventLoop loop;
    auto model = std::make_shared<llm::OpenAICompatibleModel>(llm::LlmServerConfig::resolve());
    FoundationModelFormatter formatter(model, loop);
    std::optional<std::string> result;
    formatter.format(text, Reply<std::string>(loop, [&](std::string out) {
                         result = std::move(out);
                         loop.quit();
                     }));
    loop.run();
    return result.value_or(RuleBasedFormatter::formatted(text));
}

int runTranscribe(cli::CommandContext& context) {
    const Options options = parse(context.args);

    // The machine's speech service, for the system engine and for the engine setting.
    analysis::SpeechFramework::setShared(std::make_shared<sphinx::SphinxSpeechFramework>());
    Settings::setSharedSystemSpeechProbe([] { return AppleSpeechEngine::isSupported(); });
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

    EventLoop loop;
    DictionaryStore dictionary(options.dictionary.path, loop, false);
    cli::reportUnreadable(dictionary, options.dictionary, context.err);

    const SpeechEngineChoice choice = options.engine.value_or(settings.engine());
    std::shared_ptr<TranscriptionEngine> engine;
    if (choice == SpeechEngineChoice::apple) {
        engine = std::make_shared<AppleSpeechEngine>(
            analysis::SpeechFramework::shared(), analysis::currentLocaleIdentifier(),
            AppleSpeechEngine::biasPhrasesOn(loop, [&dictionary] { return dictionary.biasPhrases(); }));
    } else if (!options.model.empty()) {
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
        engine = std::make_shared<NemotronEngine>(NemotronModels::shared());
    }

    FileDictation dictation(loop, engine, input);
    Result<std::string> transcript = dictation.run();
    if (!transcript.ok()) {
        context.err << describeError(transcript.error()) << "\n";
        return 1;
    }
    const std::string text = unicode::trimWhitespaceAndNewlines(transcript.value());
    if (text.empty()) {
        context.err << "no speech recognised in " << options.audio << "\n";
        return 0;
    }

    const bool cleanup = settings.cleanupEnabled() && !options.noCleanup;
    const std::string afterCleanup = cleanup ? cleaned(text, options.smart || settings.smartCleanup()) : text;
    CorrectionResult corrected = dictionary.corrector().apply(afterCleanup);
    if (!corrected.applied.empty()) {
        Log::speech().info("dictionary · %{public}ld correction(s) applied", static_cast<long>(corrected.applied.size()));
    }

    DictationRun run;
    run.id = makeUuid();
    run.date = dictation.audioEndedAt();
    run.engine = std::string(speechEngineChoice::displayName(choice));
    run.audioSeconds = input->durationSeconds();
    run.processSeconds = std::chrono::duration<double>(Clock::now() - dictation.audioEnded()).count();
    run.text = corrected.text;
    if (!corrected.applied.empty()) run.corrections = corrected.applied;

    if (options.record) {
        std::string error;
        if (!RunLog(RunLog::defaultFile()).record(run, &error)) {
            context.err << "the run was not recorded: " << error << "\n";
            return 1;
        }
    }
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
    return 0;
}

cli::Registration reg{
    {"transcribe",
     "transcribe [--engine apple|nemotron] [--model FILE] [--no-cleanup] [--smart] [--dictionary FILE] [--json] "
     "[--record] [--raw-rate HZ] AUDIO.wav",
     "Dictate from a WAV file (16/32-bit PCM or 32-bit float, any rate, mono or stereo; with --raw-rate, bare "
     "16-bit mono samples) through the whole pipeline and print the text, or with --json the run record.",
     &runTranscribe}};

}  // namespace
