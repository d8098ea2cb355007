#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/SerialExecutor.h"
#include "contracts/Speech.h"
#include "speech/NemotronModels.h"
#include "audio/PcmConverter.h"

namespace zarn {

// The local streaming engine: runs the downloaded model through the transcribe runtime.
// An actor on its own executor; one engine per dictation, the model session is shared
// through NemotronModels. Every fed chunk yields one interim result with the whole text so
// far; finish() yields the final text and ends the stream.
class NemotronEngine final : public TranscriptionEngine, public std::enable_shared_from_this<NemotronEngine> {
public:
    // The model's input: 16 kHz mono 32-bit float, non-interleaved.
    static const AudioFormat targetFormat;

    // Runs on `executor`, by default a thread of its own.
    explicit NemotronEngine(std::shared_ptr<NemotronModels> models, std::shared_ptr<Executor> executor = nullptr);
    ~NemotronEngine() override;

    void preferredInputFormat(Reply<std::optional<AudioFormat>> reply) override;
    void start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) override;
    void feed(AudioChunk chunk, Reply<> done) override;
    void finish(Reply<> done) override;

    // How many converters this engine has made (they are cached per input format).
    std::size_t convertersMade() const { return convertersMade_.load(); }

private:
    std::vector<float> samplesFrom(const AudioBuffer& buffer);

    std::shared_ptr<NemotronModels> models_;
    std::shared_ptr<TranscribeSession> session_;      // present while a dictation streams
    std::shared_ptr<ChunkStream> continuation_;       // present while a result stream is open
    std::unique_ptr<PcmConverter> converter_;
    std::atomic<std::size_t> convertersMade_{0};
    std::shared_ptr<Executor> executor_;
};

// For the command line's `transcribe --engine nemotron --model FILE`: an engine over that
// model file (any size, outside the model store), speaking the user's locale.
std::shared_ptr<NemotronEngine> makeNemotronEngineForModelFile(const std::filesystem::path& modelPath);

}  // namespace zarn
