#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <thread>

#include "base/Log.h"
#include "base/ManualExecutor.h"
#include "base/SerialExecutor.h"
#include "base/Uuid.h"
#include "cleanup/RuleBasedFormatter.h"
#include "dictation/DictationController.h"
#include "dictation/Fakes.h"
#include "history/RunStore.h"
#include "strings/CurrentStrings.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using State = DictationController::State;
using Kind = State::Kind;

class DictationControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Log::setSinkForTesting([this](const Log::Record& record) {
            std::lock_guard lock(logMutex);
            logs.push_back(record);
        });
    }
    void TearDown() override {
        controller.reset();
        Log::setSinkForTesting(nullptr);
    }

    // Makes the controller; `recorder` defaults to the fake.
    void make(std::shared_ptr<TextFormatter> fixedFormatter = nullptr, RunRecorder* runRecorder = nullptr,
              Executor* background = nullptr) {
        auto hotkeyOwned = std::make_unique<test::FakeKeyMonitor>();
        auto captureOwned = std::make_unique<test::FakeCapture>();
        hotkey = hotkeyOwned.get();
        capture = captureOwned.get();
        controller = std::make_unique<DictationController>(DictationController::Collaborators{
            .main = executor,
            .background = background ? *background : executor,
            .clock = executor,
            .settings = settings,
            .microphone = microphone,
            .hotkey = std::move(hotkeyOwned),
            .capture = std::move(captureOwned),
            .makeEngine =
                [this] {
                    auto engine = std::make_shared<test::FakeEngine>();
                    if (setupEngine) setupEngine(*engine);
                    engines.push_back(engine);
                    return engine;
                },
            .formatter = std::move(fixedFormatter),
            .makeFormatter =
                [this](bool smart) {
                    formatterRequests.push_back(smart);
                    return formatter;
                },
            .dictionary = dictionary,
            .recorder = runRecorder ? *runRecorder : recorder,
            .inserter = inserter,
            .sounds = sounds,
        });
        subscription = controller->observeState([this](const State& s) { states.push_back(s); });
        ASSERT_TRUE(controller->activate());
    }

    void run() { executor.runUntilIdle(); }
    // Press, bring the dictation up to listening.
    void startListening() {
        hotkey->press();
        run();
        ASSERT_EQ(controller->state(), State::listening());
    }
    test::FakeEngine& engine() { return *engines.back(); }
    std::vector<Log::Record> logsOf(const std::string& category) {
        std::lock_guard lock(logMutex);
        std::vector<Log::Record> out;
        for (const auto& r : logs) {
            if (r.category == category) out.push_back(r);
        }
        return out;
    }

    ManualExecutor executor;
    test::TempDir dir;
    Settings settings{std::make_shared<DefaultsStore>(dir / "defaults.json"), [] { return true; },
                      [] { return std::vector<std::string>{"en"}; }};
    test::FakeMicrophone microphone;
    test::FakeDictionary dictionary;
    test::FakeRecorder recorder;
    test::FakeInserter inserter;
    test::FakeSounds sounds;
    std::shared_ptr<test::FakeFormatter> formatter = std::make_shared<test::FakeFormatter>();
    std::vector<bool> formatterRequests;
    std::function<void(test::FakeEngine&)> setupEngine;
    std::vector<std::shared_ptr<test::FakeEngine>> engines;
    test::FakeKeyMonitor* hotkey = nullptr;
    test::FakeCapture* capture = nullptr;
    std::unique_ptr<DictationController> controller;
    std::vector<State> states;
    Subscription subscription;
    std::mutex logMutex;
    std::vector<Log::Record> logs;
};

TEST_F(DictationControllerTest, WholeDictationFromPressToInsertedText) {
    make();
    dictionary.table = {{"zarn", "Zarn"}};
    EXPECT_EQ(hotkey->key, settings.pushToTalkKey());
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_FALSE(controller->state().isActive());

    hotkey->press();
    EXPECT_EQ(controller->state(), State::starting()) << "the press returns at once in starting";
    EXPECT_TRUE(controller->state().isActive());
    EXPECT_EQ(microphone.requests, 0);
    run();
    ASSERT_EQ(engines.size(), 1u);
    EXPECT_EQ(engine().startCalls, 1);
    EXPECT_EQ(engine().formatCalls, 1);
    EXPECT_EQ(capture->format, AudioFormat::monoFloat(16000)) << "the capture delivers what the engine wants";
    EXPECT_EQ(controller->state(), State::listening());
    EXPECT_EQ(sounds.played, (std::vector<std::string>{"Tink"}));

    auto a = capture->push();
    auto b = capture->push();
    engine().emit("hello");
    run();
    EXPECT_EQ(controller->transcript(), "hello");
    ASSERT_EQ(engine().fed.size(), 2u);
    EXPECT_EQ(engine().fed[0].buffer, a);
    EXPECT_EQ(engine().fed[1].buffer, b);

    executor.advanceBy(1500ms);
    engine().finalText = "  hello zarn and zarn\n";
    hotkey->release();
    EXPECT_EQ(controller->state(), State::finishing());
    EXPECT_FALSE(capture->running) << "the microphone stops at the release";
    run();

    EXPECT_EQ(engine().finishCalls, 1);
    EXPECT_EQ(formatter->inputs, (std::vector<std::string>{"hello zarn and zarn"})) << "trimmed before cleanup";
    EXPECT_EQ(formatterRequests, (std::vector<bool>{false}));
    EXPECT_EQ(dictionary.inputs, (std::vector<std::string>{"clean:hello zarn and zarn"}));
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:hello Zarn and Zarn"}));
    ASSERT_EQ(recorder.runs.size(), 1u);
    const auto& r = recorder.runs[0];
    EXPECT_EQ(r.text, "clean:hello Zarn and Zarn");
    EXPECT_EQ(r.engine, "Apple (streaming)");
    EXPECT_EQ(r.date, executor.now());
    EXPECT_DOUBLE_EQ(r.audioSeconds, 1.5);
    EXPECT_DOUBLE_EQ(r.processSeconds, 0.0);
    ASSERT_TRUE(r.corrections);
    EXPECT_EQ(*r.corrections, (std::vector<AppliedCorrection>{{"zarn", "Zarn", 2}}));
    EXPECT_EQ(sounds.played, (std::vector<std::string>{"Tink", "Pop"}));
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(controller->transcript(), "");
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::listening(), State::finishing(), State::idle()}));

    auto speech = logsOf("speech");
    ASSERT_EQ(speech.size(), 2u);
    // What reached the engine and came back, by number only; then the corrections.
    EXPECT_EQ(speech[0].message, "dictation ended — 0.0 s of audio, 19 character(s) recognised");
    EXPECT_EQ(speech[1].level, Log::Level::info);
    EXPECT_EQ(speech[1].message, "dictionary · 1 correction(s) applied");
}

// The log is for diagnosis: a whole dictation with the default settings leaves numbers
// and names in it, never a word of what was said.
TEST_F(DictationControllerTest, LogsNeverQuoteTheDictatedText) {
    make(std::make_shared<RuleBasedFormatter>());
    dictionary.table = {{"hunter", "Hunter"}};
    const std::vector<std::string> words{"purple", "hunter", "swordfish", "marmalade", "zeppelin"};
    startListening();
    capture->push();
    engine().emit("purple hunter");
    run();
    executor.advanceBy(2s);
    engine().finalText = "um purple hunter swordfish marmalade zeppelin";
    hotkey->release();
    executor.runAll();
    ASSERT_EQ(inserter.texts, (std::vector<std::string>{"Purple Hunter swordfish marmalade zeppelin."}));

    std::lock_guard lock(logMutex);
    EXPECT_FALSE(logs.empty());
    for (const auto& record : logs) {
        std::string lowered = record.message;
        std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
        for (const auto& word : words) EXPECT_EQ(lowered.find(word), std::string::npos) << record.message;
    }
}

TEST_F(DictationControllerTest, RecordedRunIsByteExactInTheHistoryFile) {
    auto file = dir / "Zarn" / "runs.jsonl";
    RunStore store(std::make_shared<RunLog>(file), executor, false);
    make(nullptr, &store);
    dictionary.table = {{"zarn", "Zarn"}, {"q", "queue"}};
    formatter->hold = true;

    executor.advanceBy(700ms);  // the release lands mid-second: only whole seconds are stored
    startListening();
    engine().emit("zarn \"q\"\nzarn — ok");
    executor.advanceBy(2500ms);
    hotkey->release();
    run();
    executor.advanceBy(250ms);
    formatter->answer();
    run();

    ASSERT_EQ(store.runs().size(), 1u);
    const auto id = store.runs()[0].id;
    EXPECT_TRUE(isUuid(id));
    EXPECT_EQ(test::readFile(file),
              "{\"id\":\"" + id +
                  "\",\"date\":\"2026-01-01T00:00:03Z\",\"engine\":\"Apple (streaming)\",\"audioSeconds\":2.5,"
                  "\"processSeconds\":0.25,\"text\":\"clean:Zarn \\\"queue\\\"\\nZarn — ok\",\"corrections\":["
                  "{\"from\":\"zarn\",\"to\":\"Zarn\",\"count\":2},{\"from\":\"q\",\"to\":\"queue\",\"count\":1}]}\n");
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:Zarn \"queue\"\nZarn — ok"}));
}

TEST_F(DictationControllerTest, PressesAreIgnoredUnlessIdle) {
    make();
    microphone.hold = true;
    hotkey->press();
    run();
    hotkey->press();  // starting
    microphone.answer();
    run();
    ASSERT_EQ(controller->state(), State::listening());
    hotkey->press();  // listening
    controller->startButtonRecording();
    run();
    EXPECT_EQ(engines.size(), 1u);

    engine().emit("one");
    engine().endStreamOnFinish = false;  // the finish task waits for the stream's end
    run();
    hotkey->release();
    run();
    ASSERT_EQ(controller->state(), State::finishing());
    hotkey->press();    // finishing
    hotkey->release();  // a second release while finishing
    run();
    EXPECT_EQ(engines.size(), 1u);
    EXPECT_EQ(engine().finishCalls, 1);
    engine().stream->finish();
    run();
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:one"}));

    hotkey->release();  // in idle
    run();
    EXPECT_EQ(controller->state(), State::idle());

    microphone.hold = false;
    microphone.granted = false;
    hotkey->press();
    run();
    ASSERT_EQ(controller->state().kind, Kind::error);
    hotkey->press();  // error
    hotkey->release();
    run();
    EXPECT_EQ(microphone.requests, 2);

    executor.advanceBy(3s);
    ASSERT_EQ(controller->state(), State::idle());
    microphone.granted = true;
    startListening();  // the next press after idle starts normally
    EXPECT_EQ(engines.size(), 2u);
}

TEST_F(DictationControllerTest, ReleaseWhileStartingRecordsNothingAndStopsTheLateCapture) {
    make();
    setupEngine = [](test::FakeEngine& e) { e.holdStart = true; };
    hotkey->press();
    run();
    ASSERT_EQ(engines.size(), 1u);
    ASSERT_EQ(controller->state(), State::starting());

    const int stopsBefore = capture->stopCalls;
    hotkey->release();
    EXPECT_EQ(controller->state(), State::finishing());
    EXPECT_EQ(capture->stopCalls, stopsBefore + 1);
    run();
    EXPECT_EQ(engine().finishCalls, 1) << "the engine already made is finished";
    EXPECT_EQ(controller->state(), State::idle());

    engine().answerStart();
    run();
    EXPECT_EQ(capture->startCalls, 1);
    EXPECT_FALSE(capture->running) << "the capture started late is stopped again";
    EXPECT_EQ(engine().finishCalls, 1) << "never finished twice";
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_TRUE(inserter.texts.empty());
    EXPECT_TRUE(sounds.played.empty());
    EXPECT_TRUE(engine().stream->isCancelled());
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::finishing(), State::idle()}));
}

TEST_F(DictationControllerTest, AnAbortedStartNeverTouchesANewerDictation) {
    make();
    setupEngine = [](test::FakeEngine& e) { e.holdStart = true; };
    hotkey->press();
    run();
    hotkey->release();
    run();
    ASSERT_EQ(controller->state(), State::idle());
    auto& first = *engines[0];

    setupEngine = nullptr;
    hotkey->press();  // a second dictation while the first start is still out
    run();
    ASSERT_EQ(controller->state(), State::listening());
    ASSERT_EQ(engines.size(), 2u);

    first.answerStart();
    run();
    EXPECT_EQ(controller->state(), State::listening()) << "the old start task leaves the new dictation alone";
    EXPECT_TRUE(capture->running);
    EXPECT_EQ(capture->startCalls, 1);
    EXPECT_EQ(first.formatCalls, 0);
    EXPECT_TRUE(first.stream->isCancelled());

    engines[1]->emit("second");
    hotkey->release();
    run();
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:second"}));
}

TEST_F(DictationControllerTest, LeftoverEngineOfAnAbortedStartIsFinishedByTheNextPress) {
    make();
    microphone.hold = true;
    setupEngine = [](test::FakeEngine& e) { e.holdStart = true; };
    hotkey->press();
    run();
    hotkey->release();
    run();  // the finish task finds nothing yet and ends
    ASSERT_EQ(controller->state(), State::idle());
    microphone.answer();
    run();  // the first start now makes its engine
    ASSERT_EQ(engines.size(), 1u);

    microphone.hold = false;
    setupEngine = nullptr;
    hotkey->press();
    run();
    EXPECT_EQ(engines[0]->finishCalls, 1);
    engines[0]->answerStart();
    run();
    EXPECT_EQ(controller->state(), State::listening());
    EXPECT_EQ(engines[1]->finishCalls, 0);
}

TEST_F(DictationControllerTest, RefusedMicrophoneShowsTheErrorForThreeSeconds) {
    make();
    microphone.granted = false;
    hotkey->press();
    run();
    const std::string message = settings.strings().errors.microphoneOff;
    EXPECT_EQ(controller->state(), State::error(message));
    EXPECT_FALSE(controller->state().isActive());
    EXPECT_TRUE(engines.empty()) << "no engine is made";
    EXPECT_EQ(capture->startCalls, 0);
    auto app = logsOf("app");
    ASSERT_EQ(app.size(), 1u);
    EXPECT_EQ(app[0].level, Log::Level::error);
    EXPECT_EQ(app[0].message, message);

    executor.advanceBy(2999ms);
    EXPECT_EQ(controller->state(), State::error(message));
    executor.advanceBy(1ms);
    EXPECT_EQ(controller->state(), State::idle());
}

TEST_F(DictationControllerTest, StartUpFailuresEndInTheirErrors) {
    make();
    struct Case {
        std::function<void()> arrange;
        std::string message;
    };
    const std::vector<Case> cases{
        {[&] { setupEngine = [](test::FakeEngine& e) { e.startError = makeError<TranscriptionError>(TranscriptionError::engineUnavailable("No model here.")); }; },
         "No model here."},
        {[&] { setupEngine = [](test::FakeEngine& e) { e.startError = std::make_exception_ptr(std::runtime_error("plain failure")); }; },
         "plain failure"},
        {[&] { setupEngine = [](test::FakeEngine& e) { e.format.reset(); }; },
         "No compatible audio format available for the speech engine."},
        {[&] {
             setupEngine = nullptr;
             capture->startError = makeError<MessageError>("No microphone found.");
         },
         "No microphone found."},
    };
    for (const auto& c : cases) {
        c.arrange();
        hotkey->press();
        run();
        EXPECT_EQ(controller->state(), State::error(c.message));
        EXPECT_FALSE(capture->running);
        EXPECT_EQ(engine().finishCalls, 0) << "a failed dictation drops its engine unfinished";
        EXPECT_TRUE(sounds.played.empty());
        executor.advanceBy(3s);
        EXPECT_EQ(controller->state(), State::idle());
    }
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_TRUE(inserter.texts.empty());
}

TEST_F(DictationControllerTest, ResultStreamFailureWhileListeningEndsTheDictation) {
    make();
    startListening();
    engine().emit("partial");
    capture->onLevel(1.0f);
    run();
    engine().failStream("Recognition stopped.");
    run();
    EXPECT_EQ(controller->state(), State::error("Recognition stopped."));
    EXPECT_EQ(controller->transcript(), "partial") << "the last live text stays until the next press";
    EXPECT_EQ(controller->level(), 0.0f);
    EXPECT_FALSE(capture->running);
    EXPECT_EQ(engine().finishCalls, 0);
    auto pushed = capture->push();  // a late buffer goes nowhere
    run();
    EXPECT_TRUE(engine().fed.empty());

    hotkey->release();  // ignored in error
    run();
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_TRUE(inserter.texts.empty());
    EXPECT_EQ(sounds.played, (std::vector<std::string>{"Tink"}));
    executor.advanceBy(3s);
    EXPECT_EQ(controller->state(), State::idle());
    hotkey->press();
    run();
    EXPECT_EQ(controller->transcript(), "");
}

// A real engine hands its last text over after finish() answered, and only while it lives.
TEST_F(DictationControllerTest, EngineLivesUntilItsLastTextArrives) {
    make();
    startListening();
    engine().endStreamOnFinish = false;
    std::weak_ptr<test::FakeEngine> weak = engines.back();
    engines.clear();
    hotkey->release();
    run();
    ASSERT_EQ(controller->state(), State::finishing());
    auto alive = weak.lock();
    ASSERT_TRUE(alive);
    alive->stream->yield({"late words", true});
    alive->stream->finish();
    alive.reset();
    run();
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:late words"}));
    EXPECT_TRUE(weak.expired());
}

TEST_F(DictationControllerTest, ResultStreamFailureWhileFinishingStillProcessesTheText) {
    make();
    startListening();
    engine().emit("  kept text ");
    engine().endStreamOnFinish = false;
    run();
    hotkey->release();
    run();
    ASSERT_EQ(controller->state(), State::finishing());
    engine().failStream("Late failure.");
    run();
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::listening(), State::finishing(),
                                          State::error("Late failure."), State::idle()}));
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:kept text"}));
    EXPECT_EQ(recorder.runs.size(), 1u);
    EXPECT_EQ(sounds.played, (std::vector<std::string>{"Tink", "Pop"}));
    executor.advanceBy(3s);
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(states.size(), 5u) << "the error timer finds no error left";
}

TEST_F(DictationControllerTest, DeactivateWhileListeningFinishesTheEngineOnTheSide) {
    make();
    startListening();
    engine().emit("never inserted");
    capture->onLevel(0.5f);
    run();
    controller->deactivate();
    EXPECT_FALSE(hotkey->running);
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(controller->transcript(), "");
    EXPECT_EQ(controller->level(), 0.0f);
    EXPECT_FALSE(capture->running);
    run();
    EXPECT_EQ(engine().finishCalls, 1);
    EXPECT_EQ(controller->transcript(), "") << "the engine's last text is discarded";
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_TRUE(inserter.texts.empty());
    EXPECT_EQ(sounds.played, (std::vector<std::string>{"Tink"}));
}

TEST_F(DictationControllerTest, DeactivateWhileFinishingNeverFinishesTheEngineTwice) {
    make();
    startListening();
    engine().emit("dropped");
    engine().endStreamOnFinish = false;
    hotkey->release();
    run();
    ASSERT_EQ(engine().finishCalls, 1);
    controller->deactivate();
    run();
    EXPECT_EQ(engine().finishCalls, 1);
    EXPECT_EQ(controller->state(), State::idle());
    engine().stream->finish();
    run();
    EXPECT_TRUE(inserter.texts.empty());
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_EQ(controller->state(), State::idle());
}

TEST_F(DictationControllerTest, AnEarlierErrorTimerDoesNotCutALaterErrorShort) {
    make();
    startListening();
    engine().emit("text");
    engine().endStreamOnFinish = false;
    hotkey->release();
    run();
    engine().failStream("First.");
    run();
    ASSERT_EQ(controller->state(), State::idle()) << "the finish task replaced the error";

    executor.advanceBy(1s);
    microphone.granted = false;
    hotkey->press();
    run();
    ASSERT_EQ(controller->state().kind, Kind::error);
    executor.advanceBy(2500ms);  // the first error's three seconds are over
    EXPECT_EQ(controller->state().kind, Kind::error);
    executor.advanceBy(500ms);
    EXPECT_EQ(controller->state(), State::idle());
}

TEST_F(DictationControllerTest, DeactivateWhileStartingKeepsTheMicrophoneOff) {
    make();
    setupEngine = [](test::FakeEngine& e) { e.holdStart = true; };
    hotkey->press();
    run();
    controller->deactivate();
    run();
    EXPECT_EQ(engine().finishCalls, 1);
    engine().answerStart();
    run();
    EXPECT_EQ(capture->startCalls, 0);
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(engine().finishCalls, 1);
}

TEST_F(DictationControllerTest, SlowEngineLosesTheOldestAudioBeyondSixtyFourChunks) {
    make();
    setupEngine = [](test::FakeEngine& e) { e.holdFeeds = true; };
    startListening();
    std::vector<std::shared_ptr<const AudioBuffer>> pushed;
    for (int i = 0; i < 100; ++i) pushed.push_back(capture->push());
    run();
    ASSERT_EQ(engine().fed.size(), 1u) << "the engine works on the first chunk";
    EXPECT_EQ(engine().fed[0].buffer, pushed[0]);

    engine().emit("slow");
    hotkey->release();
    run();
    EXPECT_EQ(controller->state(), State::finishing());
    EXPECT_EQ(engine().finishCalls, 0) << "finish() comes after the last feed";
    while (engine().completeFeed()) run();

    ASSERT_EQ(engine().fed.size(), 65u);
    for (std::size_t i = 1; i < engine().fed.size(); ++i) {
        EXPECT_EQ(engine().fed[i].buffer, pushed[35 + i]) << "chunk " << i;
    }
    EXPECT_EQ(engine().finishCalls, 1);
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:slow"}));
}

TEST_F(DictationControllerTest, EveryChunkReplacesTheTranscript) {
    make();
    std::vector<std::string> seen;
    auto sub = controller->observeTranscript([&](const std::string& t) { seen.push_back(t); });
    startListening();
    for (const char* text : {"one", "one two", "one two three", "one two three", "one"}) engine().emit(text);
    run();
    EXPECT_EQ(controller->transcript(), "one");
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "one two", "one two three", "one"})) << "equal writes notify no one";
    hotkey->release();
    run();
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:one"}));
}

TEST_F(DictationControllerTest, WhitespaceOnlyTranscriptEndsQuietly) {
    make();
    startListening();
    engine().finalText = " \n\t \u2003\n";
    hotkey->release();
    run();
    EXPECT_EQ(controller->state(), State::idle());
    EXPECT_EQ(controller->transcript(), "");
    EXPECT_TRUE(formatter->inputs.empty());
    EXPECT_TRUE(dictionary.inputs.empty());
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_TRUE(inserter.texts.empty());
    EXPECT_EQ(sounds.played, (std::vector<std::string>{"Tink"}));
}

TEST_F(DictationControllerTest, CleanupOffSoundOffAndNoCorrections) {
    settings.setCleanupEnabled(false);
    settings.setSoundEnabled(false);
    make();
    startListening();
    engine().finalText = "  raw words \n";
    hotkey->release();
    run();
    EXPECT_TRUE(formatter->inputs.empty());
    EXPECT_TRUE(formatterRequests.empty());
    EXPECT_EQ(dictionary.inputs, (std::vector<std::string>{"raw words"})) << "the trimmed text goes straight on";
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"raw words"}));
    EXPECT_TRUE(sounds.played.empty());
    ASSERT_EQ(recorder.runs.size(), 1u);
    EXPECT_FALSE(recorder.runs[0].corrections);
    EXPECT_EQ(logsOf("speech").size(), 1u) << "no dictionary line without corrections";
    EXPECT_EQ(controller->state(), State::idle());
}

TEST_F(DictationControllerTest, LevelIsSmoothedAndZeroAfterTheRelease) {
    make();
    startListening();
    capture->onLevel(1.0f);
    run();
    EXPECT_EQ(controller->level(), 0.35f);
    capture->onLevel(1.0f);
    run();
    EXPECT_FLOAT_EQ(controller->level(), 0.5775f);
    capture->onLevel(0.0f);  // on its way when the key comes up
    hotkey->release();
    EXPECT_EQ(controller->level(), 0.0f);
    run();
    EXPECT_EQ(controller->level(), 0.0f);
}

TEST_F(DictationControllerTest, FormatterFollowsTheSettingsUnlessFixed) {
    make();
    settings.setSmartCleanup(true);
    startListening();
    engine().emit("first");
    hotkey->release();
    run();
    settings.setSmartCleanup(false);
    startListening();
    engine().emit("second");
    hotkey->release();
    run();
    EXPECT_EQ(formatterRequests, (std::vector<bool>{true, false}));

    controller.reset();
    formatterRequests.clear();
    auto fixed = std::make_shared<test::FakeFormatter>("fixed:");
    make(fixed);
    startListening();
    engine().emit("third");
    hotkey->release();
    run();
    EXPECT_TRUE(formatterRequests.empty());
    EXPECT_EQ(inserter.texts.back(), "fixed:third");
}

TEST_F(DictationControllerTest, EngineNameIsTheOneChosenAtThePress) {
    make();
    startListening();
    engine().emit("apple words");
    settings.setEngine(SpeechEngineChoice::nemotron);
    hotkey->release();
    run();
    startListening();
    engine().emit("nemotron words");
    hotkey->release();
    run();
    ASSERT_EQ(recorder.runs.size(), 2u);
    EXPECT_EQ(recorder.runs[0].engine, "Apple (streaming)");
    EXPECT_EQ(recorder.runs[1].engine, "Nemotron (streaming)");
    EXPECT_NE(recorder.runs[0].id, recorder.runs[1].id);
}

TEST_F(DictationControllerTest, HotkeyActivationReloadAndButtons) {
    make();
    EXPECT_EQ(hotkey->startCalls, 1);
    settings.setPushToTalkKey(PushToTalkKey::rightCommand);
    hotkey->startResult = false;
    EXPECT_FALSE(controller->reloadHotkey()) << "no permission to install the monitor";
    EXPECT_EQ(hotkey->stopCalls, 1);
    EXPECT_EQ(hotkey->key, PushToTalkKey::rightCommand);
    hotkey->startResult = true;
    EXPECT_TRUE(controller->activate());

    controller->startButtonRecording();
    run();
    EXPECT_EQ(controller->state(), State::listening());
    engine().emit("button");
    controller->stopButtonRecording();
    run();
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:button"}));

    // The monitor's callbacks hold the controller weakly.
    auto press = hotkey->onPress;
    controller.reset();
    press();
    run();
    EXPECT_EQ(engines.size(), 1u);
}

TEST_F(DictationControllerTest, DestroyedMidDictationLeavesNothingRunning) {
    make();
    setupEngine = [](test::FakeEngine& e) { e.holdFeeds = true; };
    startListening();
    capture->push();
    capture->push();
    capture->onLevel(1.0f);
    engine().emit("x");
    auto e = engines.back();
    controller.reset();
    executor.runAll();
    while (e->completeFeed()) executor.runAll();
    EXPECT_TRUE(inserter.texts.empty());
    EXPECT_TRUE(e->stream->isCancelled());
}

TEST_F(DictationControllerTest, AudioCrossesFromTheCaptureThreadThroughTheFeedThreadInOrder) {
    SerialExecutor feedThread("feed");
    make(nullptr, nullptr, &feedThread);
    startListening();

    constexpr int kBuffers = 300;
    std::vector<std::shared_ptr<const AudioBuffer>> pushed;
    std::thread captureThread([&] {
        for (int i = 0; i < kBuffers; ++i) {
            pushed.push_back(capture->push());
            capture->onLevel(1.0f);
        }
    });
    captureThread.join();
    engine().emit("threads");
    ASSERT_TRUE(executor.runUntil([&] { return controller->level() > 0.9f; }));
    hotkey->release();
    ASSERT_TRUE(executor.runUntil([&] { return controller->state() == State::idle(); }));

    const auto& fed = engine().fed;  // the feed task has ended: no more writes
    ASSERT_FALSE(fed.empty());
    EXPECT_GE(fed.size(), std::min<std::size_t>(kBuffers, DictationController::audioQueueCapacity));
    EXPECT_EQ(fed.back().buffer, pushed.back()) << "the newest audio is never dropped";
    std::size_t at = 0;
    for (const auto& chunk : fed) {
        while (at < pushed.size() && pushed[at] != chunk.buffer) ++at;
        ASSERT_LT(at, pushed.size()) << "chunks reach the engine in capture order";
    }
    EXPECT_EQ(inserter.texts, (std::vector<std::string>{"clean:threads"}));
}

}  // namespace
}  // namespace zarn
