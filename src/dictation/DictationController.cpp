#include "dictation/DictationController.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include "base/Log.h"
#include "base/Unicode.h"

namespace zarn {

// A task of the controller that others can wait for (the feed and the consume task).
// Waiters run on the main executor once the task ended or was cancelled.
class DictationController::TaskState {
public:
    explicit TaskState(Executor& main) : main_(main) {}

    std::atomic<bool> cancelled{false};
    std::function<void()> onCancel;  // main executor

    void whenDone(std::function<void()> fn) {
        if (done_) {
            main_.post(std::move(fn));
        } else {
            waiters_.push_back(std::move(fn));
        }
    }
    void complete() {
        if (done_) return;
        done_ = true;
        for (auto& fn : std::exchange(waiters_, {})) main_.post(std::move(fn));
    }
    void cancel() {
        cancelled = true;
        if (auto fn = std::exchange(onCancel, nullptr)) fn();
        complete();
    }

private:
    Executor& main_;
    bool done_ = false;
    std::vector<std::function<void()>> waiters_;
};

namespace {

// Hands the audio to the engine one chunk at a time, in order, on the background executor.
class FeedLoop : public std::enable_shared_from_this<FeedLoop> {
public:
    using AudioStream = BoundedStream<AudioChunk>;
    FeedLoop(std::shared_ptr<AudioStream> audio, std::shared_ptr<TranscriptionEngine> engine,
             std::function<void()> onEnd, std::shared_ptr<std::atomic<bool>> cancelled, Executor& background)
        : audio_(std::move(audio)), engine_(std::move(engine)), onEnd_(std::move(onEnd)),
          cancelled_(std::move(cancelled)), background_(background) {}

    void next() {
        audio_->next(background_, [self = shared_from_this()](std::optional<AudioChunk> chunk) {
            if (!chunk || self->cancelled_->load()) {
                self->onEnd_();
                return;
            }
            self->engine_->feed(std::move(*chunk), Reply<>(self->background_, [self] { self->next(); }));
        });
    }

private:
    std::shared_ptr<AudioStream> audio_;
    std::shared_ptr<TranscriptionEngine> engine_;
    std::function<void()> onEnd_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    Executor& background_;
};

constexpr float kLevelSmoothing = 0.35f;

}  // namespace

DictationController::DictationController(Collaborators c)
    : main_(c.main),
      background_(c.background),
      clock_(c.clock),
      settings_(c.settings),
      microphone_(c.microphone),
      hotkey_(std::move(c.hotkey)),
      capture_(std::move(c.capture)),
      makeEngine_(std::move(c.makeEngine)),
      finisher_(c.clock, std::move(c.formatter), std::move(c.makeFormatter), c.dictionary, c.recorder),
      inserter_(c.inserter),
      sounds_(c.sounds) {
    if (!hotkey_ || !capture_) throw std::invalid_argument("DictationController needs a key monitor and a capture");
}

DictationController::~DictationController() {
    lifetime_.invalidate();
    errorTimer_.cancel();
    if (hotkey_) hotkey_->stop();
    if (capture_) capture_->stop();
    if (auto audio = std::exchange(audioContinuation_, nullptr)) audio->cancel();
    if (auto feed = std::exchange(feedTask_, nullptr)) feed->cancel();
    if (auto consume = std::exchange(consumeTask_, nullptr)) consume->cancel();
}

// ---- Key monitor and buttons ----

bool DictationController::activate() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    hotkey_->setKey(settings_.pushToTalkKey());
    hotkey_->setOnPress(lifetime_.guard([this] { beginDictation(); }));
    hotkey_->setOnRelease(lifetime_.guard([this] { endDictation(); }));
    // A key watch that dies says no release: the dictation it held is cancelled rather than
    // left listening forever.
    hotkey_->setOnFailure(lifetime_.guard([this] {
        if (state_.get().isActive()) cancelDictation();
        if (onHotkeyFailure_) onHotkeyFailure_();
    }));
    return hotkey_->start();
}

bool DictationController::reloadHotkey() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    hotkey_->stop();
    return activate();
}

void DictationController::deactivate() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    hotkey_->stop();
    cancelDictation();
}

void DictationController::startButtonRecording() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (state_.get().kind == State::Kind::idle) beginDictation();
}

void DictationController::stopButtonRecording() { endDictation(); }

// ---- Press and the start task ----

void DictationController::beginDictation() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    if (state_.get().kind != State::Kind::idle) return;
    const auto dictation = ++dictation_;
    // An engine made by a start that was aborted before it got going: finish it, it is not ours.
    if (auto leftover = std::exchange(engine_, nullptr)) finishOnTheSide(std::move(leftover));

    state_.set(State::starting());
    transcript_.set("");
    holdStarted_ = clock_.now();
    releasedAt_.reset();
    engineName_ = std::string(speechEngineChoice::displayName(settings_.engine()));

    main_.post(lifetime_.guard([this, dictation] {
        microphone_.requestMicrophone(Reply<bool>(
            main_, lifetime_.guard([this, dictation](bool granted) { startAfterPermission(dictation, granted); })));
    }));
}

void DictationController::startAfterPermission(std::uint64_t dictation, bool granted) {
    if (!isCurrent(dictation)) return;
    if (!granted) {
        fail(settings_.strings().errors.microphoneOff);
        return;
    }
    std::shared_ptr<TranscriptionEngine> engine;
    try {
        if (makeEngine_) engine = makeEngine_();
    } catch (...) {
        fail(describeError(std::current_exception()));
        return;
    }
    if (!engine) {
        fail(TranscriptionError::notRunning().errorDescription());
        return;
    }
    // Stored before anything else, so a release during the next steps can finish it.
    engine_ = engine;
    engine->start(Reply<Result<std::shared_ptr<ChunkStream>>>(
        main_, lifetime_.guard([this, dictation, engine](Result<std::shared_ptr<ChunkStream>> result) {
            startAfterEngineStart(dictation, engine, std::move(result));
        })));
}

void DictationController::startAfterEngineStart(std::uint64_t dictation, std::shared_ptr<TranscriptionEngine> engine,
                                                Result<std::shared_ptr<ChunkStream>> result) {
    if (!isCurrent(dictation)) {
        // A newer dictation runs; whoever took this engine out of the field finishes it.
        if (result.ok() && result.value()) result.value()->cancel();
        return;
    }
    if (!result.ok()) {
        fail(describeError(result.error()));
        return;
    }
    auto results = result.value();
    if (!results) {
        fail(TranscriptionError::notRunning().errorDescription());
        return;
    }
    engine->preferredInputFormat(Reply<std::optional<AudioFormat>>(
        main_, lifetime_.guard([this, dictation, engine, results](std::optional<AudioFormat> format) {
            startAfterFormat(dictation, engine, results, format);
        })));
}

void DictationController::startAfterFormat(std::uint64_t dictation, std::shared_ptr<TranscriptionEngine> engine,
                                           std::shared_ptr<ChunkStream> results, std::optional<AudioFormat> format) {
    if (!isCurrent(dictation)) {
        results->cancel();
        return;
    }
    if (!format) {
        results->cancel();
        fail(TranscriptionError::noAudioFormat().errorDescription());
        return;
    }

    auto audio = AudioStream::make(audioQueueCapacity);
    audioContinuation_ = audio;
    feedTask_ = startFeedTask(audio, engine);

    auto frames = std::make_shared<std::atomic<std::uint64_t>>(0);
    capturedFrames_ = frames;
    captureRate_ = format->sampleRate;
    auto onBuffer = [audio, frames](std::shared_ptr<const AudioBuffer> buffer) {
        frames->fetch_add(buffer->frameLength());
        audio->push(AudioChunk{std::move(buffer)});
    };
    // Level values belong to this dictation while the microphone runs; one that was on its
    // way when the key came up must not move the meter again.
    auto applyLevel = lifetime_.guard([this, dictation](float value) {
        const auto kind = state_.get().kind;
        if (isCurrent(dictation) && (kind == State::Kind::starting || kind == State::Kind::listening)) updateLevel(value);
    });
    auto onLevel = [&main = main_, applyLevel](float value) { main.post([applyLevel, value]() mutable { applyLevel(value); }); };
    try {
        capture_->start(*format, std::move(onBuffer), std::move(onLevel));
    } catch (...) {
        results->cancel();
        fail(describeError(std::current_exception()));
        return;
    }

    // The key was released (or the dictation cancelled) while the engine came up.
    if (state_.get().kind != State::Kind::starting) {
        teardown(dictation, results);
        return;
    }
    state_.set(State::listening());
    if (settings_.soundEnabled()) sounds_.play("Tink");
    consumeTask_ = startConsumeTask(results);
}

std::shared_ptr<DictationController::TaskState> DictationController::startFeedTask(
    std::shared_ptr<AudioStream> audio, std::shared_ptr<TranscriptionEngine> engine) {
    auto task = std::make_shared<TaskState>(main_);
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    task->onCancel = [audio, cancelled] {
        cancelled->store(true);
        audio->cancel();
    };
    auto onEnd = [&main = main_, task] { main.post([task] { task->complete(); }); };
    auto loop = std::make_shared<FeedLoop>(std::move(audio), std::move(engine), std::move(onEnd), cancelled, background_);
    background_.post([loop] { loop->next(); });
    return task;
}

std::shared_ptr<DictationController::TaskState> DictationController::startConsumeTask(std::shared_ptr<ChunkStream> results) {
    auto task = std::make_shared<TaskState>(main_);
    task->onCancel = [results] { results->cancel(); };
    results->subscribe(
        main_,
        lifetime_.guard([this, task](TranscriptionChunk chunk) {
            // Every chunk carries the whole transcript so far.
            if (!task->cancelled) transcript_.set(std::move(chunk.text));
        }),
        lifetime_.guard([this, task](std::exception_ptr error) {
            if (task->cancelled) return;
            if (error) fail(describeError(error));
            task->complete();
        }));
    return task;
}

void DictationController::teardown(std::uint64_t dictation, std::shared_ptr<ChunkStream> results) {
    capture_->stop();
    if (auto audio = std::exchange(audioContinuation_, nullptr)) audio->finish();
    auto feed = std::exchange(feedTask_, nullptr);
    auto engine = std::exchange(engine_, nullptr);
    if (auto consume = std::exchange(consumeTask_, nullptr)) consume->cancel();

    std::function<void()> done = lifetime_.guard([this, dictation, results] {
        results->cancel();
        if (isCurrent(dictation)) state_.set(State::idle());
    });
    auto afterFeed = [this, engine, done = std::move(done)]() mutable {
        if (engine) {
            engine->finish(Reply<>(main_, done));
        } else {
            done();
        }
    };
    if (feed) {
        feed->whenDone(lifetime_.guard(afterFeed));
    } else {
        afterFeed();
    }
}

// ---- Release and the finish task ----

void DictationController::endDictation() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    const auto& state = state_.get();
    if (!state.isActive() || state.kind == State::Kind::finishing) return;
    state_.set(State::finishing());
    capture_->stop();  // at once: no tail after the release
    level_.set(0.0f);
    releasedAt_ = clock_.now();

    const auto dictation = dictation_;
    main_.post(lifetime_.guard([this, dictation] {
        if (!isCurrent(dictation)) return;
        if (auto audio = std::exchange(audioContinuation_, nullptr)) audio->finish();
        if (auto feed = feedTask_) {
            // Every chunk already pushed reaches the engine first.
            feed->whenDone(lifetime_.guard([this, dictation, feed] {
                if (feedTask_ == feed) feedTask_ = nullptr;
                finishAfterFeed(dictation);
            }));
        } else {
            finishAfterFeed(dictation);
        }
    }));
}

void DictationController::finishAfterFeed(std::uint64_t dictation) {
    if (!isCurrent(dictation)) return;
    // Taken out now, so that nothing else (a cancellation, an aborted start) finishes it again.
    if (auto engine = std::exchange(engine_, nullptr)) {
        engine->finish(Reply<>(main_, lifetime_.guard([this, dictation, engine] { finishAfterEngine(dictation, engine); })));
    } else {
        finishAfterEngine(dictation, nullptr);
    }
}

void DictationController::finishAfterEngine(std::uint64_t dictation, std::shared_ptr<TranscriptionEngine> engine) {
    if (!isCurrent(dictation)) return;
    if (auto consume = consumeTask_) {
        // The engine may deliver its last text after finish() answered; dropping it before
        // its stream ended would lose that text.
        consume->whenDone(lifetime_.guard([this, dictation, engine] { finishAfterConsume(dictation); }));
    } else {
        finishAfterConsume(dictation);
    }
}

void DictationController::finishAfterConsume(std::uint64_t dictation) {
    if (!isCurrent(dictation)) return;
    consumeTask_ = nullptr;
    auto text = unicode::trimWhitespaceAndNewlines(transcript_.get());
    // What reached the engine and what came back, without the words: the first thing to
    // look at when a dictation gives nothing.
    const double audioSeconds = capturedFrames_ && captureRate_ > 0 ? static_cast<double>(capturedFrames_->load()) / captureRate_ : 0;
    Log::speech().info("dictation ended — %{public}.1f s of audio, %{public}ld character(s) recognised", audioSeconds,
                       static_cast<long>(unicode::graphemeCount(text)));
    if (text.empty()) {
        state_.set(State::idle());
        transcript_.set("");
        return;
    }
    RunContext context{holdStarted_, releasedAt_, engineName_};
    if (settings_.cleanupEnabled()) {
        if (auto formatter = finisher_.formatterFor(true, settings_.smartCleanup())) {
            formatter->format(text, Reply<std::string>(main_, lifetime_.guard([this, dictation, context, formatter](
                                                                                  std::string cleaned) {
                                  finishWithText(dictation, std::move(cleaned), context);
                              })));
            return;
        }
    }
    finishWithText(dictation, std::move(text), context);
}

void DictationController::finishWithText(std::uint64_t dictation, std::string cleaned, const RunContext& context) {
    // Once the text is known it is the user's: it is stored and inserted even if the
    // dictation was cancelled meanwhile; only the published state is left to a newer one.
    std::optional<DictationFinisher::Timing> timing;
    if (context.holdStarted && context.releasedAt) {
        timing = DictationFinisher::Timing{*context.releasedAt, secondsBetween(*context.holdStarted, *context.releasedAt),
                                           context.engineName};
    }
    const std::string text = finisher_.correctAndRecord(cleaned, timing).text;
    if (isCurrent(dictation)) {
        holdStarted_.reset();
        releasedAt_.reset();
    }
    inserter_.insert(text);
    if (settings_.soundEnabled()) sounds_.play("Pop");
    if (isCurrent(dictation)) {
        state_.set(State::idle());
        transcript_.set("");
    }
}

// ---- Level, failure, cancellation ----

void DictationController::updateLevel(float value) {
    const float level = level_.get();
    level_.set(level + (value - level) * kLevelSmoothing);
}

void DictationController::fail(const std::string& message) {
    Log::app().error("%{public}s", message);
    capture_->stop();
    if (auto audio = std::exchange(audioContinuation_, nullptr)) audio->finish();
    if (auto feed = std::exchange(feedTask_, nullptr)) feed->cancel();
    engine_ = nullptr;  // dropped without finish()
    if (auto consume = std::exchange(consumeTask_, nullptr)) consume->cancel();
    state_.set(State::error(message));
    level_.set(0.0f);

    // A previous error's timer must not cut this one short.
    errorTimer_.cancel();
    errorTimer_ = main_.postAfter(errorDisplayTime, lifetime_.guard([this] {
        if (state_.get().kind == State::Kind::error) state_.set(State::idle());
    }));
}

void DictationController::cancelDictation() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    // Every step still pending for the cancelled dictation finds itself out of date.
    ++dictation_;
    capture_->stop();
    if (auto audio = std::exchange(audioContinuation_, nullptr)) audio->finish();
    if (auto feed = std::exchange(feedTask_, nullptr)) feed->cancel();
    if (auto consume = std::exchange(consumeTask_, nullptr)) consume->cancel();
    if (auto engine = std::exchange(engine_, nullptr)) finishOnTheSide(std::move(engine));
    state_.set(State::idle());
    transcript_.set("");
    level_.set(0.0f);
}

void DictationController::finishOnTheSide(std::shared_ptr<TranscriptionEngine> engine) {
    main_.post([&main = main_, engine] { engine->finish(Reply<>(main, [engine] {})); });
}

}  // namespace zarn
