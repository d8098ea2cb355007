#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ManualExecutor.h"
#include "contracts/Speech.h"

namespace zarn::test {

// Drives an engine's dictations from a ManualExecutor and collects what its stream yields.
// Each step waits in real time (up to `timeout`) for the engine's answer, so an engine on a
// thread of its own is driven the same way as one on the test's executor.
class EngineDriver {
public:
    EngineDriver(TranscriptionEngine& engine, ManualExecutor& main, std::chrono::seconds timeout = std::chrono::seconds(10))
        : engine_(engine), main_(main), timeout_(timeout) {}

    std::optional<AudioFormat> preferredFormat() {
        std::optional<std::optional<AudioFormat>> format;
        engine_.preferredInputFormat({main_, [&](std::optional<AudioFormat> f) { format = f; }});
        main_.runUntil([&] { return format.has_value(); }, timeout_);
        return format.value_or(std::nullopt);
    }
    // Asks for a dictation, forgetting the last one's results, without waiting for the answer.
    void requestStart() {
        chunks.clear();
        ended = answered_ = subscribed_ = false;
        error = startError = nullptr;
        engine_.start({main_, [this](Result<std::shared_ptr<TranscriptionEngine::ChunkStream>> result) {
                           answered_ = true;
                           if (!result.ok()) {
                               startError = result.error();
                               return;
                           }
                           subscribed_ = true;
                           result.value()->subscribe(
                               main_, [this](TranscriptionChunk c) { chunks.push_back(std::move(c)); },
                               [this](std::exception_ptr e) {
                                   ended = true;
                                   error = e;
                               });
                       }});
    }
    // Starts a dictation; its start error, nullptr once the stream is followed.
    std::exception_ptr start() {
        requestStart();
        main_.runUntil([&] { return answered_; }, timeout_);
        return startError;
    }
    // Feeds the buffers one by one, each once the engine has taken the one before.
    void feedAll(const std::vector<std::shared_ptr<const AudioBuffer>>& buffers) {
        for (const auto& b : buffers) {
            bool done = false;
            engine_.feed(AudioChunk{b}, {main_, [&] { done = true; }});
            main_.runUntil([&] { return done; }, timeout_);
        }
        main_.runUntilIdle();
    }
    void feed(std::shared_ptr<const AudioBuffer> buffer) { feedAll({std::move(buffer)}); }
    // Finishes, waits for the end of the stream (if there is one) and gives the last text.
    std::string finish() {
        bool done = false;
        engine_.finish({main_, [&] { done = true; }});
        main_.runUntil([&] { return done && (ended || !subscribed_); }, timeout_);
        main_.runUntilIdle();
        return chunks.empty() ? "<no chunks>" : chunks.back().text;
    }

    std::vector<TranscriptionChunk> chunks;
    bool ended = false;
    std::exception_ptr error;       // what the stream ended with
    std::exception_ptr startError;

private:
    TranscriptionEngine& engine_;
    ManualExecutor& main_;
    std::chrono::seconds timeout_;
    bool answered_ = false, subscribed_ = false;
};

}  // namespace zarn::test
