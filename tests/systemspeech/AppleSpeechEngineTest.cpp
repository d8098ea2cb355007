#include <gtest/gtest.h>

#include "base/ManualExecutor.h"
#include "strings/CurrentStrings.h"
#include "support/EngineDriver.h"
#include "support/LogCapture.h"
#include "support/ReplyFuture.h"
#include "support/ScopedEnv.h"
#include "support/TestAudio.h"
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

struct Faults {
    bool context = false, start = false, finalize = false;
};

// Counts what it is fed; the test emits the results through the transcriber's stream.
class ScriptedAnalyzer final : public SpeechAnalyzer {
public:
    ScriptedAnalyzer(std::shared_ptr<ScriptedTranscriber> t, const Faults& f) : transcriber(std::move(t)), fail(f) {}
    void setContext(const AnalysisContext& c) override {
        if (fail.context) throw MessageError("context refused");
        context = c;
    }
    void start(std::shared_ptr<AnalyzerInputStream> in) override {
        if (fail.start) throw MessageError("analyzer refused");
        input = std::move(in);
    }
    void finalizeAndFinishThroughEndOfInput() override {
        ++finalizeCalls;
        while (auto buffer = input->next()) ++buffersSeen;
        if (fail.finalize) throw MessageError("finalize broke");
        transcriber->stream->finish();
    }
    void cancelAndFinishNow() override {
        ++cancelCalls;
        transcriber->stream->finish();
    }
    std::shared_ptr<ScriptedTranscriber> transcriber;
    std::shared_ptr<AnalyzerInputStream> input;
    const Faults& fail;
    std::optional<AnalysisContext> context;
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
        analyzers.push_back(std::make_shared<ScriptedAnalyzer>(std::static_pointer_cast<ScriptedTranscriber>(t), fail));
        return analyzers.back();
    }

    bool available = true;
    std::vector<std::string> supported = {"en-US", "de-DE"};
    std::vector<std::string> installed = {"en-US", "de-DE"};
    std::optional<std::string> requestError, installError;
    Faults fail;
    int installs = 0;
    std::vector<std::shared_ptr<ScriptedTranscriber>> transcribers;
    std::vector<std::shared_ptr<ScriptedAnalyzer>> analyzers;
};

struct AppleSpeechEngineTest : ::testing::Test {
    AppleSpeechEngineTest() { env.set("ZARN_LOG_PRIVATE", "1"); }
    test::ScopedEnv env;
    test::LogCapture log;
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<ScriptedFramework> framework = std::make_shared<ScriptedFramework>();
    std::vector<std::string> phrases;
    std::vector<std::shared_ptr<AppleSpeechEngine>> engines;

    // A new engine's driver; the engine lives as long as the test.
    test::EngineDriver make(std::string locale = "en-US") {
        engines.push_back(std::make_shared<AppleSpeechEngine>(
            framework, std::move(locale), [this](Reply<std::vector<std::string>> reply) { reply(phrases); }, executor));
        return test::EngineDriver(*engines.back(), *executor);
    }
    void emit(std::string text, bool isFinal) {
        framework->transcribers.back()->stream->yield({std::move(text), isFinal});
        executor->runUntilIdle();
    }
};

using Chunks = std::vector<TranscriptionChunk>;

// Whole transcripts: finals absorbed, the volatile tail appended and trimmed; the final chunk
// keeps the finals' own spacing, empty when there were none.
TEST_F(AppleSpeechEngineTest, AbsorbsFinalAndVolatileResultsIntoWholeTranscripts) {
    const struct {
        Chunks results;
        Chunks chunks;
    } cases[] = {
        {{{"Hello", false}, {"Hello", true}, {" wor", false}, {" world", true}, {" and\tmore ", false}},
         {{"Hello", false}, {"Hello", false}, {"Hello wor", false}, {"Hello world", false}, {"Hello world and\tmore", false},
          {"Hello world", true}}},
        {{{" Hi\n", true}}, {{"Hi\n", false}, {" Hi\n", true}}},
        {{{"maybe this", false}}, {{"maybe this", false}, {"", true}}},
    };
    for (const auto& c : cases) {
        auto d = make();
        ASSERT_EQ(d.start(), nullptr);
        for (const auto& r : c.results) emit(r.text, r.isFinal);
        d.finish();
        EXPECT_TRUE(d.ended);
        EXPECT_FALSE(d.error);
        EXPECT_EQ(d.chunks, c.chunks);
    }
}

TEST_F(AppleSpeechEngineTest, FeedsOnlyWhileStreamingAndStartsAfreshEachTime) {
    auto d = make();
    const auto buffer = test::constantAudio(AudioFormat::monoFloat(16000), 10);
    d.feed(buffer);  // before start: dropped
    d.start();
    d.feedAll({buffer, buffer});
    emit("one", true);
    auto analyzer = framework->analyzers.back();
    d.finish();
    EXPECT_EQ(analyzer->buffersSeen, 2);
    EXPECT_EQ(analyzer->finalizeCalls, 1);
    d.feed(buffer);  // after finish: dropped (the input is closed and gone)
    EXPECT_EQ(d.chunks.back(), (TranscriptionChunk{"one", true}));

    d.start();
    emit("two", true);
    d.finish();
    EXPECT_EQ(d.chunks, (Chunks{{"two", false}, {"two", true}}));
    EXPECT_EQ(framework->analyzers.size(), 2u);
}

TEST_F(AppleSpeechEngineTest, ResolvesTheLocaleAndFallsBackToAmericanEnglish) {
    make("de-DE").start();
    EXPECT_EQ(framework->transcribers.back()->locale, "de-DE");
    EXPECT_TRUE(log.contains("SpeechAnalyzer started for de-DE"));
    make("xx-YY").start();
    EXPECT_EQ(framework->transcribers.back()->locale, "en-US");
    EXPECT_TRUE(log.contains("SpeechAnalyzer started for en-US"));

    // The format comes from a transcriber made for the engine's own locale when none exists.
    EXPECT_EQ(make("fr-FR").preferredFormat(), AudioFormat::monoFloat(16000));
    EXPECT_EQ(framework->transcribers.back()->locale, "fr-FR");
}

TEST_F(AppleSpeechEngineTest, UnavailableServiceAndModelInstallationErrors) {
    CurrentStrings::set(Strings::english());
    const struct {
        bool available;
        std::vector<std::string> installed;
        std::optional<std::string> requestError, installError;
        bool failStart;
        std::string error;
        int installs;
    } cases[] = {
        {false, {"en-US"}, {}, {}, false, "Dictation isn't available for pt-BR on this Mac.", 0},
        {true, {}, {}, {}, false, "", 1},
        {true, {}, {}, "disk full", false, "Couldn't install the speech model: disk full", 0},
        {true, {}, "no such asset", {}, false, "Couldn't install the speech model: no such asset", 0},
        {true, {"pt-BR"}, {}, {}, true, "analyzer refused", 0},
    };
    framework->supported.push_back("pt-BR");
    for (const auto& c : cases) {
        framework->available = c.available;
        framework->installed = c.installed;
        framework->requestError = c.requestError;
        framework->installError = c.installError;
        framework->fail.start = c.failStart;
        framework->installs = 0;
        const auto error = make("pt-BR").start();
        EXPECT_EQ(error ? describeError(error) : "", c.error);
        EXPECT_EQ(framework->installs, c.installs);
    }
    EXPECT_TRUE(log.contains("downloading speech model…"));
    EXPECT_TRUE(log.contains("speech model installed"));
}

TEST_F(AppleSpeechEngineTest, BiasesWithDictionaryPhrasesOnlyWhenThereAreSome) {
    make().start();
    EXPECT_FALSE(framework->analyzers.back()->context);
    EXPECT_FALSE(log.contains("biasing with"));

    phrases = {"Zarn", "PostgreSQL"};
    make().start();
    ASSERT_TRUE(framework->analyzers.back()->context);
    EXPECT_EQ(framework->analyzers.back()->context->contextualStrings.at("general"), phrases);
    EXPECT_TRUE(log.contains("biasing with 2 dictionary phrase(s)"));

    // A refused context does not stop the dictation.
    framework->fail.context = true;
    EXPECT_EQ(make().start(), nullptr);
}

TEST_F(AppleSpeechEngineTest, FinishDuringStartStillEndsTheStream) {
    Reply<std::vector<std::string>> pending;
    auto engine = std::make_shared<AppleSpeechEngine>(
        framework, "en-US", [&](Reply<std::vector<std::string>> reply) { pending = std::move(reply); }, executor);
    test::EngineDriver d(*engine, *executor);
    d.requestStart();
    executor->runUntilIdle();
    ASSERT_TRUE(pending);  // start waits for the dictionary
    test::ReplyFuture<> finished(*executor);
    engine->finish(finished.reply());
    executor->runUntilIdle();
    EXPECT_FALSE(finished.isAnswered());
    pending(std::vector<std::string>{});
    finished.get();
    EXPECT_TRUE(d.ended);
    EXPECT_EQ(d.chunks, (Chunks{{"", true}}));
}

TEST_F(AppleSpeechEngineTest, ResultAndFinalizeFailures) {
    auto d = make();
    d.start();
    emit("partial", true);
    framework->transcribers.back()->stream->fail(makeError<MessageError>("recogniser crashed"));
    executor->runUntilIdle();
    EXPECT_TRUE(d.ended);
    EXPECT_EQ(describeError(d.error), "recogniser crashed");
    EXPECT_TRUE(log.contains("results stream failed: recogniser crashed"));

    framework->fail.finalize = true;
    auto second = make();
    second.start();
    auto analyzer = framework->analyzers.back();
    second.finish();
    EXPECT_TRUE(log.contains("finalize failed: finalize broke"));
    EXPECT_EQ(analyzer->cancelCalls, 1);
    EXPECT_TRUE(second.ended);
    EXPECT_EQ(second.chunks, (Chunks{{"", true}}));
}

TEST_F(AppleSpeechEngineTest, DroppedEngineEndsItsStreamWithEmptyText) {
    auto d = make();
    d.start();
    emit("kept", true);
    auto transcriber = framework->transcribers.back();
    framework->analyzers.clear();
    engines.clear();
    executor->runUntilIdle();
    transcriber->stream->yield({"late", true});
    executor->runUntilIdle();
    EXPECT_TRUE(d.ended);
    EXPECT_EQ(d.chunks, (Chunks{{"kept", false}, {"", true}}));
}

}  // namespace
}  // namespace zarn
