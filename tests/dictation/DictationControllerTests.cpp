#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <thread>

#include "base/SerialExecutor.h"
#include "base/Uuid.h"
#include "cleanup/RuleBasedFormatter.h"
#include "dictation/FakeDictation.h"
#include "support/LogCapture.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using State = DictationController::State;
using Strings = std::vector<std::string>;

class DictationControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        subscription = d.controller->observeState([this](const State& s) { states.push_back(s); });
        ASSERT_TRUE(d.controller->activate());
    }
    void run() { d.executor.runUntilIdle(); }
    void startListening() {
        d.listen();
        ASSERT_EQ(d.controller->state(), State::listening());
    }
    // One dictation that emits `text` and ends with the release.
    void dictate(const std::string& text) {
        startListening();
        d.engine->emit(text);
        d.release();
    }
    test::FakeEngine& engine() { return *d.engine; }
    DictationController& controller() { return *d.controller; }

    test::LogCapture logs;
    test::FakeDictation d{false};
    std::vector<State> states;
    Subscription subscription;
};

TEST_F(DictationControllerTest, WholeDictationFromPressToInsertedText) {
    d.dictionary.table = {{"zarn", "Zarn"}};
    d.formatter->hold = true;
    EXPECT_EQ(d.key->key, d.settings.pushToTalkKey());
    EXPECT_FALSE(controller().state().isActive());

    d.key->press();
    EXPECT_EQ(controller().state(), State::starting()) << "the press returns at once in starting";
    EXPECT_TRUE(controller().state().isActive());
    EXPECT_EQ(d.microphone.requests, 0);
    run();
    EXPECT_EQ(engine().startCalls, 1);
    EXPECT_EQ(d.capture->format, AudioFormat::monoFloat(16000)) << "the capture delivers what the engine wants";
    EXPECT_EQ(d.sounds.played, Strings{"Tink"});

    auto a = d.capture->push();
    auto b = d.capture->push();
    d.say("hello");
    EXPECT_EQ(controller().transcript(), "hello");
    ASSERT_EQ(engine().fed.size(), 2u);
    EXPECT_EQ(engine().fed[0].buffer, a);
    EXPECT_EQ(engine().fed[1].buffer, b);

    d.executor.advanceBy(1500ms);
    engine().finalText = "  hello zarn and zarn\n";
    d.key->release();
    EXPECT_EQ(controller().state(), State::finishing());
    EXPECT_FALSE(d.capture->running) << "the microphone stops at the release";
    const auto releasedAt = d.executor.now();
    run();
    d.executor.advanceBy(250ms);
    d.formatter->answer();
    run();

    EXPECT_EQ(engine().finishCalls, 1);
    EXPECT_EQ(d.formatter->inputs, Strings{"hello zarn and zarn"}) << "trimmed before cleanup";
    EXPECT_EQ(d.formatterRequests, std::vector<bool>{false});
    EXPECT_EQ(d.dictionary.inputs, Strings{"clean:hello zarn and zarn"});
    EXPECT_EQ(d.inserter.texts, Strings{"clean:hello Zarn and Zarn"});
    ASSERT_EQ(d.recorder.runs.size(), 1u);
    const auto& r = d.recorder.runs[0];
    EXPECT_TRUE(isUuid(r.id));
    EXPECT_EQ(r.text, "clean:hello Zarn and Zarn");
    EXPECT_EQ(r.engine, "Apple (streaming)");
    EXPECT_EQ(r.date, releasedAt);
    EXPECT_DOUBLE_EQ(r.audioSeconds, 1.5);
    EXPECT_DOUBLE_EQ(r.processSeconds, 0.25);
    EXPECT_EQ(r.corrections, (std::vector<AppliedCorrection>{{"zarn", "Zarn", 2}}));
    EXPECT_EQ(d.sounds.played, (Strings{"Tink", "Pop"}));
    EXPECT_EQ(controller().transcript(), "");
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::listening(), State::finishing(), State::idle()}));
    // What reached the engine and came back, by number only; then the corrections.
    EXPECT_EQ(logs.messages(), (Strings{"dictation ended — 0.0 s of audio, 19 character(s) recognised",
                                        "dictionary · 1 correction(s) applied"}));
}

// The log is for diagnosis: a whole dictation with the default settings leaves numbers
// and names in it, never a word of what was said.
TEST_F(DictationControllerTest, LogsNeverQuoteTheDictatedText) {
    d.remake(std::make_shared<RuleBasedFormatter>());
    d.controller->activate();
    d.dictionary.table = {{"hunter", "Hunter"}};
    startListening();
    d.capture->push();
    d.say("purple hunter");
    engine().finalText = "um purple hunter swordfish marmalade zeppelin";
    d.release();
    d.executor.runAll();
    ASSERT_EQ(d.inserter.texts, Strings{"Purple Hunter swordfish marmalade zeppelin."});
    ASSERT_GT(logs.count(), 0u);
    for (auto record : logs.records()) {
        auto& text = record.message;
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
        for (const char* word : {"purple", "hunter", "swordfish", "marmalade", "zeppelin"}) {
            EXPECT_EQ(text.find(word), std::string::npos) << text;
        }
    }
}

TEST_F(DictationControllerTest, PressesAreIgnoredUnlessIdle) {
    d.microphone.hold = true;
    d.listen();
    d.listen();  // starting
    d.microphone.answer();
    run();
    ASSERT_EQ(controller().state(), State::listening());
    d.key->press();  // listening
    controller().startButtonRecording();
    run();
    EXPECT_EQ(d.engines.size(), 1u);

    engine().emit("one");
    d.finishing();
    ASSERT_EQ(controller().state(), State::finishing());
    d.key->press();  // finishing
    d.release();     // a second release while finishing
    EXPECT_EQ(d.engines.size(), 1u);
    EXPECT_EQ(engine().finishCalls, 1);
    engine().stream->finish();
    run();
    EXPECT_EQ(d.inserter.texts, Strings{"clean:one"});
    d.release();  // in idle
    EXPECT_EQ(controller().state(), State::idle());

    d.microphone.hold = false;
    d.fail();
    ASSERT_EQ(controller().state().kind, State::Kind::error);
    d.listen();  // error
    d.release();
    EXPECT_EQ(d.microphone.requests, 2);
    d.executor.advanceBy(3s);
    d.microphone.granted = true;
    startListening();  // the next press after idle starts normally
    EXPECT_EQ(d.engines.size(), 2u);
}

TEST_F(DictationControllerTest, ReleaseWhileStartingRecordsNothingAndStopsTheLateCapture) {
    engine().holdStart = true;
    d.listen();
    d.key->release();
    EXPECT_EQ(controller().state(), State::finishing());
    EXPECT_EQ(d.capture->stopCalls, 1);
    run();
    EXPECT_EQ(engine().finishCalls, 1) << "the engine already made is finished";
    EXPECT_EQ(controller().state(), State::idle());

    engine().answerStart();
    run();
    EXPECT_EQ(d.capture->startCalls, 1);
    EXPECT_FALSE(d.capture->running) << "the capture started late is stopped again";
    EXPECT_EQ(engine().finishCalls, 1) << "never finished twice";
    EXPECT_TRUE(d.recorder.runs.empty() && d.inserter.texts.empty() && d.sounds.played.empty());
    EXPECT_TRUE(engine().stream->isCancelled());
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::finishing(), State::idle()}));
}

TEST_F(DictationControllerTest, AnAbortedStartNeverTouchesANewerDictation) {
    engine().holdStart = true;
    d.listen();
    d.release();
    ASSERT_EQ(controller().state(), State::idle());
    auto first = d.engine;
    startListening();  // a second dictation while the first start is still out

    first->answerStart();
    run();
    EXPECT_EQ(controller().state(), State::listening()) << "the old start task leaves the new dictation alone";
    EXPECT_TRUE(d.capture->running);
    EXPECT_EQ(d.capture->startCalls, 1);
    EXPECT_EQ(first->formatCalls, 0);
    EXPECT_TRUE(first->stream->isCancelled());
    d.say("second");
    d.release();
    EXPECT_EQ(d.inserter.texts, Strings{"clean:second"});
}

TEST_F(DictationControllerTest, LeftoverEngineOfAnAbortedStartIsFinishedByTheNextPress) {
    d.microphone.hold = true;
    engine().holdStart = true;
    d.listen();
    d.release();  // the finish task finds nothing yet and ends
    ASSERT_EQ(controller().state(), State::idle());
    d.microphone.answer();
    run();  // the first start now makes its engine
    auto first = d.engine;

    d.microphone.hold = false;
    d.listen();
    EXPECT_EQ(first->finishCalls, 1);
    first->answerStart();
    run();
    EXPECT_EQ(controller().state(), State::listening());
    EXPECT_EQ(d.engine->finishCalls, 0);
}

// Every failure before listening shows its message for three seconds; nothing is recorded,
// the capture is off and the engine is dropped unfinished.
TEST_F(DictationControllerTest, StartUpFailuresEndInTheirErrors) {
    using Arrange = std::function<void(test::FakeDictation&)>;
    auto engineScript = [](std::function<void(test::FakeEngine&)> script) {
        return [script](test::FakeDictation& d) { d.setupEngine = script; };
    };
    const std::vector<std::pair<Arrange, std::string>> cases{
        {[](test::FakeDictation& d) { d.microphone.granted = false; }, d.settings.strings().errors.microphoneOff},
        {engineScript([](test::FakeEngine& e) {
             e.startError = makeError<TranscriptionError>(TranscriptionError::engineUnavailable("No model here."));
         }), "No model here."},
        {engineScript([](test::FakeEngine& e) { e.startError = std::make_exception_ptr(std::runtime_error("plain")); }),
         "plain"},
        {engineScript([](test::FakeEngine& e) { e.format.reset(); }),
         "No compatible audio format available for the speech engine."},
        {[](test::FakeDictation& d) { d.capture->startError = makeError<MessageError>("No microphone found."); },
         "No microphone found."},
    };
    for (const auto& [arrange, message] : cases) {
        SCOPED_TRACE(message);
        test::LogCapture caseLogs;
        test::FakeDictation rig;
        arrange(rig);
        rig.listen();
        EXPECT_EQ(rig.controller->state(), State::error(message));
        EXPECT_FALSE(rig.controller->state().isActive());
        EXPECT_FALSE(rig.capture->running);
        EXPECT_EQ(rig.engines.empty() ? 0 : rig.engine->finishCalls, 0);
        auto records = caseLogs.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, Log::Level::error);
        EXPECT_EQ(records[0].message, message);
        rig.executor.advanceBy(2999ms);
        EXPECT_EQ(rig.controller->state(), State::error(message));
        rig.executor.advanceBy(1ms);
        EXPECT_EQ(rig.controller->state(), State::idle());
        EXPECT_TRUE(rig.recorder.runs.empty() && rig.inserter.texts.empty() && rig.sounds.played.empty());
    }
}

TEST_F(DictationControllerTest, ResultStreamFailureWhileListeningEndsTheDictation) {
    startListening();
    engine().emit("partial");
    d.level(1.0f);
    engine().failStream("Recognition stopped.");
    run();
    EXPECT_EQ(controller().state(), State::error("Recognition stopped."));
    EXPECT_EQ(controller().transcript(), "partial") << "the last live text stays until the next press";
    EXPECT_EQ(controller().level(), 0.0f);
    EXPECT_FALSE(d.capture->running);
    EXPECT_EQ(engine().finishCalls, 0);
    d.capture->push();  // a late buffer goes nowhere
    d.release();        // ignored in error
    EXPECT_TRUE(engine().fed.empty());
    EXPECT_TRUE(d.recorder.runs.empty() && d.inserter.texts.empty());
    d.executor.advanceBy(3s);
    d.listen();
    EXPECT_EQ(controller().transcript(), "");
}

// A real engine hands its last text over after finish() answered, and only while it lives.
TEST_F(DictationControllerTest, EngineLivesUntilItsLastTextArrives) {
    startListening();
    std::weak_ptr<test::FakeEngine> weak = d.engine;
    d.engines.clear();
    auto alive = std::exchange(d.engine, nullptr);
    alive->endStreamOnFinish = false;
    d.release();
    ASSERT_EQ(controller().state(), State::finishing());
    alive->stream->yield({"late words", true});
    alive->stream->finish();
    alive.reset();
    run();
    EXPECT_EQ(d.inserter.texts, Strings{"clean:late words"});
    EXPECT_TRUE(weak.expired());
}

TEST_F(DictationControllerTest, ResultStreamFailureWhileFinishingStillProcessesTheText) {
    startListening();
    engine().emit("  kept text ");
    d.finishing();
    engine().failStream("Late failure.");
    run();
    EXPECT_EQ(states, (std::vector<State>{State::starting(), State::listening(), State::finishing(),
                                          State::error("Late failure."), State::idle()}));
    EXPECT_EQ(d.inserter.texts, Strings{"clean:kept text"});
    EXPECT_EQ(d.recorder.runs.size(), 1u);

    // That error's timer must not cut a later error short.
    d.executor.advanceBy(1s);
    d.fail();
    d.executor.advanceBy(2999ms);
    EXPECT_EQ(controller().state().kind, State::Kind::error);
    d.executor.advanceBy(1ms);
    EXPECT_EQ(controller().state(), State::idle());
}

// However the dictation is cut off (the app quits, the key watch dies, the controller goes)
// and in whichever phase, nothing is inserted or recorded, the microphone stays off and the
// engine is finished at most once.
TEST_F(DictationControllerTest, CutOffInEveryPhase) {
    enum class Way { deactivate, hookDies, destroy };
    enum class Phase { starting, listening, finishing };
    for (auto way : {Way::deactivate, Way::hookDies, Way::destroy}) {
        for (auto phase : {Phase::starting, Phase::listening, Phase::finishing}) {
            SCOPED_TRACE(testing::Message() << "way " << int(way) << ", phase " << int(phase));
            test::FakeDictation rig;
            int failures = 0;
            rig.controller->setOnHotkeyFailure([&] { ++failures; });
            auto engine = rig.engine;
            engine->holdStart = phase == Phase::starting;
            engine->holdFeeds = true;
            rig.listen();
            if (phase != Phase::starting) {
                rig.capture->push();
                rig.level(1.0f);
                rig.say("never inserted");
            }
            if (phase == Phase::finishing) {
                while (engine->completeFeed()) rig.executor.runUntilIdle();
                rig.finishing();
                ASSERT_EQ(engine->finishCalls, 1);
            }
            auto* capture = rig.capture;
            switch (way) {
                case Way::deactivate: rig.controller->deactivate(); break;
                case Way::hookDies: rig.key->die(); break;
                case Way::destroy: rig.controller.reset(); break;
            }
            if (rig.controller) {
                EXPECT_EQ(rig.controller->state(), State::idle());
                EXPECT_EQ(rig.controller->transcript(), "");
                EXPECT_EQ(rig.controller->level(), 0.0f);
                EXPECT_FALSE(rig.key->running);
                EXPECT_FALSE(capture->running);
                EXPECT_EQ(failures, way == Way::hookDies ? 1 : 0);
            }
            rig.executor.runAll();
            engine->answerStart();
            while (engine->completeFeed()) rig.executor.runAll();
            engine->stream->finish();
            rig.executor.runAll();
            if (rig.controller) {
                EXPECT_EQ(capture->startCalls, phase == Phase::starting ? 0 : 1) << "no microphone after the end";
                EXPECT_EQ(rig.controller->state(), State::idle());
                EXPECT_EQ(rig.controller->transcript(), "") << "the engine's last text is discarded";
            }
            const bool finished = way != Way::destroy || phase == Phase::finishing;
            EXPECT_EQ(engine->finishCalls, finished ? 1 : 0);
            EXPECT_EQ(engine->stream->isCancelled(), way != Way::destroy || phase != Phase::starting);
            EXPECT_TRUE(rig.inserter.texts.empty() && rig.recorder.runs.empty());
        }
    }
}

TEST_F(DictationControllerTest, SlowEngineLosesTheOldestAudioBeyondSixtyFourChunks) {
    engine().holdFeeds = true;
    startListening();
    std::vector<std::shared_ptr<const AudioBuffer>> pushed;
    for (int i = 0; i < 100; ++i) pushed.push_back(d.capture->push());
    run();
    ASSERT_EQ(engine().fed.size(), 1u) << "the engine works on the first chunk";
    engine().emit("slow");
    d.release();
    EXPECT_EQ(controller().state(), State::finishing());
    EXPECT_EQ(engine().finishCalls, 0) << "finish() comes after the last feed";
    while (engine().completeFeed()) run();

    ASSERT_EQ(engine().fed.size(), 65u);
    for (std::size_t i = 0; i < engine().fed.size(); ++i) {
        EXPECT_EQ(engine().fed[i].buffer, pushed[i == 0 ? 0 : 35 + i]) << "chunk " << i;
    }
    EXPECT_EQ(engine().finishCalls, 1);
    EXPECT_EQ(d.inserter.texts, Strings{"clean:slow"});
}

// Nothing but white space ends quietly; with cleanup off the trimmed text goes straight on.
TEST_F(DictationControllerTest, BlankTextEndsQuietlyAndCleanupCanBeOff) {
    startListening();
    engine().finalText = " \n\t \u2003\n";
    d.release();
    EXPECT_EQ(controller().state(), State::idle());
    EXPECT_TRUE(d.formatter->inputs.empty() && d.dictionary.inputs.empty());
    EXPECT_TRUE(d.recorder.runs.empty() && d.inserter.texts.empty());
    EXPECT_EQ(d.sounds.played, Strings{"Tink"});

    d.settings.setCleanupEnabled(false);
    d.settings.setSoundEnabled(false);
    d.setupEngine = [](test::FakeEngine& e) { e.finalText = "  raw words \n"; };
    startListening();
    d.release();
    EXPECT_TRUE(d.formatterRequests.empty());
    EXPECT_EQ(d.dictionary.inputs, Strings{"raw words"});
    EXPECT_EQ(d.inserter.texts, Strings{"raw words"});
    EXPECT_EQ(d.sounds.played, Strings{"Tink"});
    ASSERT_EQ(d.recorder.runs.size(), 1u);
    EXPECT_FALSE(d.recorder.runs[0].corrections);
    EXPECT_EQ(logs.messages().size(), 2u) << "no dictionary line without corrections";
}

TEST_F(DictationControllerTest, LevelIsSmoothedAndZeroAfterTheRelease) {
    startListening();
    d.level(1.0f);
    EXPECT_EQ(controller().level(), 0.35f);
    d.level(1.0f);
    EXPECT_FLOAT_EQ(controller().level(), 0.5775f);
    d.capture->onLevel(1.0f);  // on its way when the key comes up: it must not move the meter
    d.key->release();
    EXPECT_EQ(controller().level(), 0.0f);
    run();
    EXPECT_EQ(controller().level(), 0.0f);
}

// The formatter and the engine's name are those of the settings at each press, unless a
// formatter is fixed.
TEST_F(DictationControllerTest, EachDictationFollowsTheSettingsOfItsPress) {
    d.settings.setSmartCleanup(true);
    startListening();
    engine().emit("first");
    d.settings.setEngine(SpeechEngineChoice::nemotron);
    d.release();
    d.settings.setSmartCleanup(false);
    dictate("second");
    EXPECT_EQ(d.formatterRequests, (std::vector<bool>{true, false}));
    ASSERT_EQ(d.recorder.runs.size(), 2u);
    EXPECT_EQ(d.recorder.runs[0].engine, "Apple (streaming)");
    EXPECT_EQ(d.recorder.runs[1].engine, "Nemotron (streaming)");
    EXPECT_NE(d.recorder.runs[0].id, d.recorder.runs[1].id);

    d.remake(std::make_shared<test::FakeFormatter>("fixed:"));
    d.controller->activate();
    dictate("third");
    EXPECT_EQ(d.formatterRequests.size(), 2u);
    EXPECT_EQ(d.inserter.texts.back(), "fixed:third");
}

TEST_F(DictationControllerTest, HotkeyActivationReloadAndButtons) {
    EXPECT_EQ(d.key->startCalls, 1);
    d.settings.setPushToTalkKey(PushToTalkKey::rightCommand);
    d.key->startResult = false;
    EXPECT_FALSE(controller().reloadHotkey()) << "no permission to install the monitor";
    EXPECT_EQ(d.key->stopCalls, 1);
    EXPECT_EQ(d.key->key, PushToTalkKey::rightCommand);
    d.key->startResult = true;
    EXPECT_TRUE(controller().activate());

    controller().startButtonRecording();
    run();
    EXPECT_EQ(controller().state(), State::listening());
    engine().emit("button");
    controller().stopButtonRecording();
    run();
    EXPECT_EQ(d.inserter.texts, Strings{"clean:button"});

    // The monitor's callbacks hold the controller weakly.
    auto press = d.key->onPress;
    d.controller.reset();
    press();
    run();
    EXPECT_EQ(d.engines.size(), 1u);
}

TEST_F(DictationControllerTest, AudioCrossesFromTheCaptureThreadThroughTheFeedThreadInOrder) {
    SerialExecutor feedThread("feed");
    d.remake(nullptr, nullptr, &feedThread);
    d.controller->activate();
    startListening();
    constexpr int kBuffers = 300;
    std::vector<std::shared_ptr<const AudioBuffer>> pushed;
    std::thread([&] {
        for (int i = 0; i < kBuffers; ++i) {
            pushed.push_back(d.capture->push());
            d.capture->onLevel(1.0f);
        }
    }).join();
    engine().emit("threads");
    ASSERT_TRUE(d.executor.runUntil([&] { return d.controller->level() > 0.9f; }));
    d.key->release();
    ASSERT_TRUE(d.executor.runUntil([&] { return d.controller->state() == State::idle(); }));

    const auto& fed = engine().fed;  // the feed task has ended: no more writes
    EXPECT_GE(fed.size(), std::min<std::size_t>(kBuffers, DictationController::audioQueueCapacity));
    ASSERT_FALSE(fed.empty());
    EXPECT_EQ(fed.back().buffer, pushed.back()) << "the newest audio is never dropped";
    std::size_t at = 0;
    for (const auto& chunk : fed) {
        while (at < pushed.size() && pushed[at] != chunk.buffer) ++at;
        ASSERT_LT(at, pushed.size()) << "chunks reach the engine in capture order";
    }
    EXPECT_EQ(d.inserter.texts, Strings{"clean:threads"});
    d.controller.reset();
}

}  // namespace
}  // namespace zarn
