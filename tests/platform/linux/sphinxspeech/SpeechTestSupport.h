#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "base/EventLoop.h"
#include "base/ManualExecutor.h"
#include "contracts/Speech.h"

namespace zarn::test {

// Drives one dictation of an engine from the test's thread and collects its chunks.
struct Dictation {
    std::shared_ptr<ManualExecutor> main = std::make_shared<ManualExecutor>();
    std::vector<TranscriptionChunk> chunks;
    bool ended = false;
    std::exception_ptr error;

    void start(TranscriptionEngine& engine) {
        bool started = false;
        std::exception_ptr startError;
        engine.start(Reply<Result<std::shared_ptr<TranscriptionEngine::ChunkStream>>>(*main, [&](auto result) {
            started = true;
            if (!result.ok()) {
                startError = result.error();
                return;
            }
            result.value()->subscribe(
                *main, [this](TranscriptionChunk c) { chunks.push_back(c); },
                [this](std::exception_ptr e) {
                    ended = true;
                    error = e;
                });
        }));
        main->runUntil([&] { return started; }, std::chrono::seconds(120));
        if (startError) std::rethrow_exception(startError);
    }
    void feed(TranscriptionEngine& engine, std::shared_ptr<const AudioBuffer> buffer) {
        bool done = false;
        engine.feed(AudioChunk{std::move(buffer)}, Reply<>(*main, [&] { done = true; }));
        main->runUntil([&] { return done; });
    }
    // Finishes and waits for the end of the stream; returns the final text.
    std::string finish(TranscriptionEngine& engine) {
        bool done = false;
        engine.finish(Reply<>(*main, [&] { done = true; }));
        main->runUntil([&] { return done && ended; }, std::chrono::seconds(120));
        return chunks.empty() ? std::string("<no chunks>") : chunks.back().text;
    }
};

}  // namespace zarn::test
