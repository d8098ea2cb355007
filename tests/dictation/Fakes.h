#pragma once

// Scriptable stand-ins for the dictation controller's collaborators. Each answers through
// the Reply it is given (so answers arrive on the test's executor) and records what it saw.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Error.h"
#include "contracts/Capture.h"
#include "contracts/Corrections.h"
#include "contracts/DictationRun.h"
#include "contracts/KeyMonitor.h"
#include "contracts/Output.h"
#include "contracts/Speech.h"
#include "contracts/TextFormatter.h"

namespace zarn::test {

class FakeEngine : public TranscriptionEngine {
public:
    // The script
    std::optional<AudioFormat> format = AudioFormat::monoFloat(16000);
    std::exception_ptr startError;
    bool holdStart = false;          // keep start() unanswered until answerStart()
    bool holdFeeds = false;          // keep feed() unanswered until completeFeed()
    std::optional<std::string> finalText;  // emitted with isFinal by finish()
    bool endStreamOnFinish = true;

    // What happened
    int startCalls = 0, formatCalls = 0, finishCalls = 0;
    std::vector<AudioChunk> fed;
    std::shared_ptr<ChunkStream> stream = ChunkStream::make();

    void preferredInputFormat(Reply<std::optional<AudioFormat>> reply) override {
        ++formatCalls;
        reply(format);
    }
    void start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) override {
        ++startCalls;
        pendingStart_ = std::move(reply);
        if (!holdStart) answerStart();
    }
    void feed(AudioChunk chunk, Reply<> done) override {
        fed.push_back(std::move(chunk));
        if (!holdFeeds) return done();
        pendingFeeds_.push_back(std::move(done));
    }
    void finish(Reply<> done) override {
        ++finishCalls;
        if (finalText) stream->yield({*finalText, true});
        if (endStreamOnFinish) stream->finish();
        done();
    }

    void answerStart() {
        using Answer = Result<std::shared_ptr<ChunkStream>>;
        if (auto reply = std::exchange(pendingStart_, {})) reply(startError ? Answer(startError) : Answer(stream));
    }
    bool completeFeed() {
        if (pendingFeeds_.empty()) return false;
        auto done = std::move(pendingFeeds_.front());
        pendingFeeds_.pop_front();
        done();
        return true;
    }
    void emit(const std::string& text) { stream->yield({text, false}); }
    void failStream(const std::string& message) { stream->fail(makeError<MessageError>(message)); }

    // A held answer that the test never gave is a service that never answered.
    ~FakeEngine() override {
        pendingStart_.drop();
        for (auto& feed : pendingFeeds_) feed.drop();
    }

private:
    Reply<Result<std::shared_ptr<ChunkStream>>> pendingStart_;
    std::deque<Reply<>> pendingFeeds_;
};

class FakeCapture : public AudioCapturing {
public:
    std::exception_ptr startError;
    int startCalls = 0, stopCalls = 0;
    bool running = false;
    std::optional<AudioFormat> format;
    OnBuffer onBuffer;
    OnLevel onLevel;

    void start(const AudioFormat& outputFormat, OnBuffer buffers, OnLevel levels) override {
        ++startCalls;
        if (startError) std::rethrow_exception(startError);
        running = true;
        format = outputFormat;
        onBuffer = std::move(buffers);
        onLevel = std::move(levels);
    }
    void stop() override {
        ++stopCalls;
        running = false;
    }

    // Pushes one buffer as the capture thread would; returns it so tests can follow it.
    std::shared_ptr<const AudioBuffer> push() {
        auto buffer = std::make_shared<AudioBuffer>(format.value_or(AudioFormat{}), 160);
        buffer->setFrameLength(160);
        onBuffer(buffer);
        return buffer;
    }
};

class FakeKeyMonitor : public KeyMonitor {
public:
    std::optional<PushToTalkKey> key;
    bool startResult = true;
    int startCalls = 0, stopCalls = 0;
    bool running = false;
    std::function<void()> onPress, onRelease, onFailure;

    void setKey(PushToTalkKey k) override { key = k; }
    void setOnPress(std::function<void()> fn) override { onPress = std::move(fn); }
    void setOnRelease(std::function<void()> fn) override { onRelease = std::move(fn); }
    void setOnFailure(std::function<void()> fn) override { onFailure = std::move(fn); }
    bool start() override {
        ++startCalls;
        return running = startResult;
    }
    void stop() override {
        ++stopCalls;
        running = false;
    }
    bool isRunning() const override { return running; }
    // The hook dying by itself: not running any more, and the monitor says so.
    void die() {
        running = false;
        if (onFailure) onFailure();
    }
    void press() { if (onPress) onPress(); }
    void release() { if (onRelease) onRelease(); }
};

class FakeMicrophone : public MicrophonePermission {
public:
    bool granted = true;
    bool hold = false;  // keep the answer until answer()
    int requests = 0;

    void requestMicrophone(Reply<bool> reply) override {
        ++requests;
        pending_ = std::move(reply);
        if (!hold) answer();
    }
    void answer() {
        if (auto reply = std::exchange(pending_, {})) reply(granted);
    }

    ~FakeMicrophone() override { pending_.drop(); }

private:
    Reply<bool> pending_;
};

// Replaces every occurrence of each `table` entry and reports one correction per entry used.
class FakeDictionary : public DictionaryCorrections {
public:
    std::vector<std::pair<std::string, std::string>> table;
    std::vector<std::string> inputs;

    CorrectionResult applyCorrections(const std::string& text) override {
        inputs.push_back(text);
        CorrectionResult result{text, {}};
        for (const auto& [from, to] : table) {
            long count = 0;
            for (auto at = result.text.find(from); at != std::string::npos; at = result.text.find(from, at + to.size()), ++count) {
                result.text.replace(at, from.size(), to);
            }
            if (count > 0) result.applied.push_back({from, to, count});
        }
        return result;
    }
};

struct FakeRecorder : RunRecorder {
    std::vector<DictationRun> runs;
    void record(const DictationRun& run) override { runs.push_back(run); }
};

struct FakeInserter : TextInserter {
    std::vector<std::string> texts;
    void insert(const std::string& text) override { texts.push_back(text); }
};

struct FakeSounds : SoundPlayer {
    std::vector<std::string> played;
    void play(const std::string& name) override { played.push_back(name); }
};

// Answers with `prefix` + text, at once or when the test says so.
class FakeFormatter : public TextFormatter {
public:
    explicit FakeFormatter(std::string prefix = "clean:") : prefix_(std::move(prefix)) {}
    bool hold = false;
    std::vector<std::string> inputs;

    void format(std::string text, Reply<std::string> done) override {
        inputs.push_back(text);
        pending_ = std::move(done);
        pendingText_ = prefix_ + text;
        if (!hold) answer();
    }
    void answer() {
        if (auto done = std::exchange(pending_, {})) done(pendingText_);
    }

    ~FakeFormatter() override { pending_.drop(); }

private:
    std::string prefix_;
    Reply<std::string> pending_;
    std::string pendingText_;
};

}  // namespace zarn::test
