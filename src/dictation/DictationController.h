#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/BoundedStream.h"
#include "base/Clock.h"
#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "contracts/Capture.h"
#include "contracts/Corrections.h"
#include "contracts/DictationRun.h"
#include "contracts/KeyMonitor.h"
#include "contracts/Output.h"
#include "contracts/Speech.h"
#include "contracts/TextFormatter.h"
#include "dictation/DictationFinisher.h"
#include "settings/Settings.h"

namespace zarn {

// Runs one dictation from the press of the push-to-talk key to the text inserted into the
// focused application, and publishes what the user sees meanwhile: the phase, the live
// transcript and the microphone level. Lives on the main executor: every method and every
// step of its tasks runs there, except the feed task, which runs on the background executor.
class DictationController {
public:
    struct State {
        enum class Kind { idle, starting, listening, finishing, error };
        Kind kind = Kind::idle;
        std::string message;  // what the user is shown, for `error` only

        static State idle() { return {Kind::idle, {}}; }
        static State starting() { return {Kind::starting, {}}; }
        static State listening() { return {Kind::listening, {}}; }
        static State finishing() { return {Kind::finishing, {}}; }
        static State error(std::string message) { return {Kind::error, std::move(message)}; }

        // starting, listening and finishing.
        bool isActive() const { return kind == Kind::starting || kind == Kind::listening || kind == Kind::finishing; }
        bool operator==(const State&) const = default;
    };

    using FormatterFactory = DictationFinisher::FormatterFactory;

    // Everything the controller talks to. The executors, clock and shared services must
    // outlive the controller; the key monitor and the capture are owned by it.
    struct Collaborators {
        Executor& main;
        Executor& background;  // runs the feed task
        Clock& clock;
        Settings& settings;
        MicrophonePermission& microphone;
        std::unique_ptr<KeyMonitor> hotkey;
        std::unique_ptr<AudioCapturing> capture;
        EngineFactory makeEngine;
        // A fixed cleanup formatter; null means one is chosen for every dictation by
        // `makeFormatter` (model cleanup when smart cleanup is on, else the rules).
        std::shared_ptr<TextFormatter> formatter;
        FormatterFactory makeFormatter;
        DictionaryCorrections& dictionary;
        RunRecorder& recorder;
        TextInserter& inserter;
        SoundPlayer& sounds;
    };

    explicit DictationController(Collaborators collaborators);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    // Installs the key monitor for the key in the settings; false when it cannot be installed.
    bool activate();
    // After the push-to-talk key setting changed.
    bool reloadHotkey();
    // At termination: stops the key monitor and cancels a running dictation.
    void deactivate();
    // Called on the main executor when the key monitor stopped by itself (its hook died),
    // after a dictation it held was cancelled; the key is not watched until activate().
    void setOnHotkeyFailure(std::function<void()> onFailure) { onHotkeyFailure_ = std::move(onFailure); }
    bool isHotkeyRunning() const { return hotkey_->isRunning(); }
    // The main window's record and stop button; they behave like a press and a release.
    void startButtonRecording();
    void stopButtonRecording();

    const State& state() const { return state_.get(); }
    const std::string& transcript() const { return transcript_.get(); }
    float level() const { return level_.get(); }
    [[nodiscard]] Subscription observeState(std::function<void(const State&)> observer) {
        return state_.subscribe(std::move(observer));
    }
    [[nodiscard]] Subscription observeTranscript(std::function<void(const std::string&)> observer) {
        return transcript_.subscribe(std::move(observer));
    }
    [[nodiscard]] Subscription observeLevel(std::function<void(const float&)> observer) {
        return level_.subscribe(std::move(observer));
    }

    // How long an error stays on screen before the state returns to idle.
    static constexpr Duration errorDisplayTime = std::chrono::seconds(3);
    // Audio waiting for a slow engine: the newest chunks are kept.
    static constexpr std::size_t audioQueueCapacity = 64;

private:
    class TaskState;
    using AudioStream = BoundedStream<AudioChunk>;
    using ChunkStream = TranscriptionEngine::ChunkStream;

    // What the finish task needs of the dictation it finishes, taken before it can change.
    struct RunContext {
        std::optional<SystemTime> holdStarted;
        std::optional<SystemTime> releasedAt;
        std::string engineName;
    };

    void beginDictation();
    void endDictation();
    void cancelDictation();
    void fail(const std::string& message);
    void updateLevel(float value);

    // The start task, one step per await.
    void startAfterPermission(std::uint64_t dictation, bool granted);
    void startAfterEngineStart(std::uint64_t dictation, std::shared_ptr<TranscriptionEngine> engine,
                               Result<std::shared_ptr<ChunkStream>> result);
    void startAfterFormat(std::uint64_t dictation, std::shared_ptr<TranscriptionEngine> engine,
                          std::shared_ptr<ChunkStream> results, std::optional<AudioFormat> format);
    void teardown(std::uint64_t dictation, std::shared_ptr<ChunkStream> results);

    // The finish task.
    void finishAfterFeed(std::uint64_t dictation);
    void finishAfterEngine(std::uint64_t dictation, std::shared_ptr<TranscriptionEngine> engine);
    void finishAfterConsume(std::uint64_t dictation);
    void finishWithText(std::uint64_t dictation, std::string cleaned, const RunContext& context);

    std::shared_ptr<TaskState> startFeedTask(std::shared_ptr<AudioStream> audio, std::shared_ptr<TranscriptionEngine> engine);
    std::shared_ptr<TaskState> startConsumeTask(std::shared_ptr<ChunkStream> results);
    void finishOnTheSide(std::shared_ptr<TranscriptionEngine> engine);
    bool isCurrent(std::uint64_t dictation) const { return dictation == dictation_; }

    Executor& main_;
    Executor& background_;
    Clock& clock_;
    Settings& settings_;
    MicrophonePermission& microphone_;
    std::unique_ptr<KeyMonitor> hotkey_;
    std::unique_ptr<AudioCapturing> capture_;
    EngineFactory makeEngine_;
    DictationFinisher finisher_;
    TextInserter& inserter_;
    SoundPlayer& sounds_;

    Observable<State> state_{State::idle()};
    Observable<std::string> transcript_;
    Observable<float> level_{0.0f};

    std::shared_ptr<TranscriptionEngine> engine_;
    std::shared_ptr<TaskState> consumeTask_;
    std::shared_ptr<TaskState> feedTask_;
    std::shared_ptr<AudioStream> audioContinuation_;
    std::optional<SystemTime> holdStarted_;
    std::optional<SystemTime> releasedAt_;
    std::string engineName_;
    std::shared_ptr<std::atomic<std::uint64_t>> capturedFrames_;  // written on the capture thread
    double captureRate_ = 0;

    // Numbers the dictations: a task step that finds a newer number leaves everything alone.
    std::uint64_t dictation_ = 0;
    TimerHandle errorTimer_;
    std::function<void()> onHotkeyFailure_;
    SequenceChecker sequence_;
    Lifetime lifetime_;
};

}  // namespace zarn
