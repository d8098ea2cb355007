#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "base/Log.h"
#include "base/ManualExecutor.h"
#include "strings/CurrentStrings.h"
#include "systemspeech/AppleSpeechEngine.h"

namespace zarn {
namespace {

using namespace analysis;

class ScriptedTranscriber final : public SpeechTranscriber {
public:
    explicit ScriptedTranscriber(std::string locale) : locale(std::move(locale)) {}
    std::vector<std::string> selectedLocales() const override { return {locale}; }
    std::shared_ptr<ResultSequence> results() override { return stream; }
    std::string locale;
    std::shared_ptr<ResultSequence> stream = ResultSequence::make();
};

// Plays back scripted results: each fed buffer's first sample picks a result to emit.
class ScriptedAnalyzer final : public SpeechAnalyzer {
public:
    explicit ScriptedAnalyzer(std::shared_ptr<ScriptedTranscriber> t) : transcriber(std::move(t)) {}
    void setContext(const AnalysisContext& c) override {
        if (failContext) throw MessageError("context refused");
        context = c;
    }
    void start(std::shared_ptr<AnalyzerInputStream> in) override {
        if (failStart) throw MessageError("analyzer refused");
        input = std::move(in);
    }
    void finalizeAndFinishThroughEndOfInput() override {
        ++finalizeCalls;
        // Drain the input: every buffer counts.
        while (auto buffer = input->next()) ++buffersSeen;
        if (failFinalize) throw MessageError("finalize broke");
        transcriber->stream->finish();
    }
    void cancelAndFinishNow() override {
        ++cancelCalls;
        transcriber->stream->finish();
    }
    std::shared_ptr<ScriptedTranscriber> transcriber;
    std::shared_ptr<AnalyzerInputStream> input;
    std::optional<AnalysisContext> context;
    bool failContext = false, failStart = false, failFinalize = false;
    int finalizeCalls = 0, cancelCalls = 0, buffersSeen = 0;
};

class ScriptedFramework final : public SpeechFramework {
public:
    bool isAvailable() override { return available; }
    std::optional<std::string> supportedLocale(const std::string& identifier) override {
        if (std::find(supported.begin(), supported.end(), identifier) != supported.end()) return identifier;
        return std::nullopt;
    }
    std::vector<std::string> installedLocales() override { return installed; }
    std::shared_ptr<SpeechTranscriber> makeTranscriber(const std::string& locale) override {
        transcribers.push_back(std::make_shared<ScriptedTranscriber>(locale));
        return transcribers.back();
    }
    std::optional<AudioFormat> bestAvailableAudioFormat(const std::vector<std::shared_ptr<SpeechTranscriber>>&) override {
        return AudioFormat::monoFloat(16000);
    }
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const SpeechTranscriber&) override {
        if (requestError) throw MessageError(*requestError);
        struct Request : AssetInstallationRequest {
            ScriptedFramework* owner;
            void downloadAndInstall() override {
                if (owner->installError) throw MessageError(*owner->installError);
                ++owner->installs;
            }
        };
        auto request = std::make_unique<Request>();
        request->owner = this;
        return request;
    }
    std::shared_ptr<SpeechAnalyzer> makeAnalyzer(std::shared_ptr<SpeechTranscriber> t) override {
        analyzers.push_back(std::make_shared<ScriptedAnalyzer>(std::static_pointer_cast<ScriptedTranscriber>(t)));
        analyzers.back()->failContext = failContext;
        analyzers.back()->failStart = failStart;
        analyzers.back()->failFinalize = failFinalize;
        return analyzers.back();
    }

    bool available = true;
    std::vector<std::string> supported = {"en-US", "de-DE"};
    std::vector<std::string> installed = {"en-US", "de-DE"};
    std::optional<std::string> requestError, installError;
    bool failContext = false, failStart = false, failFinalize = false;
    int installs = 0;
    std::vector<std::shared_ptr<ScriptedTranscriber>> transcribers;
    std::vector<std::shared_ptr<ScriptedAnalyzer>> analyzers;
};

struct LogLines {
    LogLines() {
        setenv("ZARN_LOG_PRIVATE", "1", 1);
        Log::setSinkForTesting([this](const Log::Record& r) {
            std::lock_guard lock(mutex);
            lines.push_back(r.message);
        });
    }
    ~LogLines() {
        Log::setSinkForTesting(nullptr);
        unsetenv("ZARN_LOG_PRIVATE");
    }
    bool has(const std::string& line) {
        std::lock_guard lock(mutex);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool anyStartsWith(const std::string& prefix) {
        std::lock_guard lock(mutex);
        return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; });
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

struct AppleSpeechEngineTest : ::testing::Test {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<ScriptedFramework> framework = std::make_shared<ScriptedFramework>();
    std::vector<std::string> phrases;
    LogLines log;

    std::shared_ptr<AppleSpeechEngine> make(std::string locale = "en-US") {
        return std::make_shared<AppleSpeechEngine>(
            framework, std::move(locale), [this](Reply<std::vector<std::string>> reply) { reply(phrases); }, executor);
    }

    struct Run {
        std::vector<TranscriptionChunk> chunks;
        bool ended = false;
        std::exception_ptr error;
        std::exception_ptr startError;
    };
    std::shared_ptr<Run> start(AppleSpeechEngine& engine) {
        auto run = std::make_shared<Run>();
        engine.start(Reply<Result<std::shared_ptr<TranscriptionEngine::ChunkStream>>>(*executor, [this, run](auto result) {
            if (!result.ok()) {
                run->startError = result.error();
                return;
            }
            result.value()->subscribe(
                *executor, [run](TranscriptionChunk c) { run->chunks.push_back(c); },
                [run](std::exception_ptr e) {
                    run->ended = true;
                    run->error = e;
                });
        }));
        executor->runUntilIdle();
        return run;
    }
    void finish(AppleSpeechEngine& engine) {
        bool done = false;
        engine.finish(Reply<>(*executor, [&] { done = true; }));
        executor->runUntilIdle();
        EXPECT_TRUE(done);
    }
    void feed(AppleSpeechEngine& engine) {
        auto buffer = std::make_shared<AudioBuffer>(AudioFormat::monoFloat(16000), 10);
        buffer->setFrameLength(10);
        engine.feed(AudioChunk{buffer}, Reply<>(*executor, [] {}));
        executor->runUntilIdle();
    }
    void emit(std::string text, bool isFinal) {
        framework->transcribers.back()->stream->yield({std::move(text), isFinal});
        executor->runUntilIdle();
    }
};

using Chunks = std::vector<TranscriptionChunk>;

TEST_F(AppleSpeechEngineTest, AbsorbsFinalAndVolatileResultsIntoWholeTranscripts) {
    auto engine = make();
    auto run = start(*engine);
    ASSERT_FALSE(run->startError);
    emit("Hello", false);
    emit("Hello", true);
    emit(" wor", false);
    emit(" world", true);
    emit(" and\tmore ", false);
    finish(*engine);
    EXPECT_TRUE(run->ended);
    EXPECT_FALSE(run->error);
    EXPECT_EQ(run->chunks, (Chunks{{"Hello", false},
                                   {"Hello", false},
                                   {"Hello wor", false},
                                   {"Hello world", false},
                                   {"Hello world and\tmore", false},
                                   {"Hello world", true}}));
}

TEST_F(AppleSpeechEngineTest, FinalChunkKeepsTheSpacingThatInterimChunksTrim) {
    auto engine = make();
    auto run = start(*engine);
    emit(" Hi\n", true);
    finish(*engine);
    EXPECT_EQ(run->chunks, (Chunks{{"Hi\n", false}, {" Hi\n", true}}));
}

TEST_F(AppleSpeechEngineTest, OnlyVolatileResultsEndWithAnEmptyFinalText) {
    auto engine = make();
    auto run = start(*engine);
    emit("maybe this", false);
    finish(*engine);
    EXPECT_EQ(run->chunks, (Chunks{{"maybe this", false}, {"", true}}));
}

TEST_F(AppleSpeechEngineTest, FeedsOnlyWhileStreamingAndStartsAfreshEachTime) {
    auto engine = make();
    feed(*engine);  // before start: dropped
    auto run = start(*engine);
    feed(*engine);
    feed(*engine);
    emit("one", true);
    auto analyzer = framework->analyzers.back();
    finish(*engine);
    EXPECT_EQ(analyzer->buffersSeen, 2);
    EXPECT_EQ(analyzer->finalizeCalls, 1);
    feed(*engine);  // after finish: dropped (the input is closed and gone)
    EXPECT_EQ(run->chunks.back(), (TranscriptionChunk{"one", true}));

    auto second = start(*engine);
    emit("two", true);
    finish(*engine);
    EXPECT_EQ(second->chunks, (Chunks{{"two", false}, {"two", true}}));
    EXPECT_EQ(framework->analyzers.size(), 2u);
}

TEST_F(AppleSpeechEngineTest, ResolvesTheLocaleAndFallsBackToAmericanEnglish) {
    auto german = make("de-DE");
    start(*german);
    EXPECT_EQ(framework->transcribers.back()->locale, "de-DE");
    EXPECT_TRUE(log.has("SpeechAnalyzer started for de-DE"));

    auto unknown = make("xx-YY");
    start(*unknown);
    EXPECT_EQ(framework->transcribers.back()->locale, "en-US");
    EXPECT_TRUE(log.has("SpeechAnalyzer started for en-US"));

    // The format comes from a transcriber made for the engine's own locale when none exists.
    auto fresh = make("fr-FR");
    std::optional<AudioFormat> format;
    fresh->preferredInputFormat(Reply<std::optional<AudioFormat>>(*executor, [&](auto f) { format = f; }));
    executor->runUntilIdle();
    EXPECT_EQ(format, AudioFormat::monoFloat(16000));
    EXPECT_EQ(framework->transcribers.back()->locale, "fr-FR");
}

TEST_F(AppleSpeechEngineTest, UnavailableServiceAndModelInstallationErrors) {
    CurrentStrings::set(Strings::english());
    framework->available = false;
    auto run = start(*make("pt-BR"));
    ASSERT_TRUE(run->startError);
    EXPECT_EQ(describeError(run->startError), "Dictation isn't available for pt-BR on this Mac.");

    framework->available = true;
    framework->installed = {};
    auto installed = start(*make());
    EXPECT_FALSE(installed->startError);
    EXPECT_EQ(framework->installs, 1);
    EXPECT_TRUE(log.has("downloading speech model…"));
    EXPECT_TRUE(log.has("speech model installed"));

    framework->installError = "disk full";
    auto failed = start(*make());
    EXPECT_EQ(describeError(failed->startError), "Couldn't install the speech model: disk full");

    framework->requestError = "no such asset";
    auto refused = start(*make());
    EXPECT_EQ(describeError(refused->startError), "Couldn't install the speech model: no such asset");

    framework->requestError.reset();
    framework->installError.reset();
    framework->installed = {"en-US"};
    framework->failStart = true;
    auto broken = start(*make());
    EXPECT_EQ(describeError(broken->startError), "analyzer refused");
}

TEST_F(AppleSpeechEngineTest, BiasesWithDictionaryPhrasesOnlyWhenThereAreSome) {
    start(*make());
    EXPECT_FALSE(framework->analyzers.back()->context);
    EXPECT_FALSE(log.anyStartsWith("biasing with"));

    phrases = {"Zarn", "PostgreSQL"};
    start(*make());
    ASSERT_TRUE(framework->analyzers.back()->context);
    EXPECT_EQ(framework->analyzers.back()->context->contextualStrings.at("general"), phrases);
    EXPECT_TRUE(log.has("biasing with 2 dictionary phrase(s)"));

    // A refused context does not stop the dictation.
    framework->failContext = true;
    auto run = start(*make());
    EXPECT_FALSE(run->startError);
}

TEST_F(AppleSpeechEngineTest, FinishDuringStartStillEndsTheStream) {
    Reply<std::vector<std::string>> pending;
    auto engine = std::make_shared<AppleSpeechEngine>(
        framework, "en-US", [&](Reply<std::vector<std::string>> reply) { pending = std::move(reply); }, executor);
    auto run = start(*engine);
    ASSERT_TRUE(pending);  // start waits for the dictionary
    bool finished = false;
    engine->finish(Reply<>(*executor, [&] { finished = true; }));
    executor->runUntilIdle();
    EXPECT_FALSE(finished);
    pending(std::vector<std::string>{});
    executor->runUntilIdle();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(run->ended);
    EXPECT_EQ(run->chunks, (Chunks{{"", true}}));
}

TEST_F(AppleSpeechEngineTest, ResultAndFinalizeFailures) {
    auto engine = make();
    auto run = start(*engine);
    emit("partial", true);
    framework->transcribers.back()->stream->fail(makeError<MessageError>("recogniser crashed"));
    executor->runUntilIdle();
    EXPECT_TRUE(run->ended);
    EXPECT_EQ(describeError(run->error), "recogniser crashed");
    EXPECT_TRUE(log.has("results stream failed: recogniser crashed"));

    framework->failFinalize = true;
    auto engine2 = make();
    auto run2 = start(*engine2);
    auto analyzer = framework->analyzers.back();
    finish(*engine2);
    EXPECT_TRUE(log.has("finalize failed: finalize broke"));
    EXPECT_EQ(analyzer->cancelCalls, 1);
    EXPECT_TRUE(run2->ended);
    EXPECT_EQ(run2->chunks, (Chunks{{"", true}}));
}

TEST_F(AppleSpeechEngineTest, DroppedEngineEndsItsStreamWithEmptyText) {
    auto engine = make();
    auto run = start(*engine);
    emit("kept", true);
    auto transcriber = framework->transcribers.back();
    framework->analyzers.clear();
    engine.reset();
    executor->runUntilIdle();
    transcriber->stream->yield({"late", true});
    executor->runUntilIdle();
    EXPECT_TRUE(run->ended);
    EXPECT_EQ(run->chunks, (Chunks{{"kept", false}, {"", true}}));
}

}  // namespace
}  // namespace zarn
