#include "speech/NemotronEngine.h"

#include "base/Log.h"
#include "strings/Locale.h"

namespace zarn {

const AudioFormat NemotronEngine::targetFormat = AudioFormat::monoFloat(16000);

NemotronEngine::NemotronEngine(std::shared_ptr<NemotronModels> models, std::shared_ptr<Executor> executor)
    : models_(std::move(models)),
      executor_(executor ? std::move(executor) : std::make_shared<SerialExecutor>("zarn-nemotron")) {}

NemotronEngine::~NemotronEngine() = default;

void NemotronEngine::preferredInputFormat(Reply<std::optional<AudioFormat>> reply) {
    executor_->post([self = shared_from_this(), reply = std::move(reply)]() mutable { reply(targetFormat); });
}

void NemotronEngine::start(Reply<Result<std::shared_ptr<ChunkStream>>> reply) {
    executor_->post([self = shared_from_this(), reply = std::move(reply)]() mutable {
        try {
            auto session = self->models_->sessionAndWait();
            self->session_ = session;
            try {
                session->beginStreamAndWait();
            } catch (...) {
                // A stream that never began must not be fed.
                self->session_.reset();
                throw;
            }
            self->continuation_ = ChunkStream::make();
            reply(self->continuation_);
        } catch (...) {
            reply(std::current_exception());
        }
    });
}

void NemotronEngine::feed(AudioChunk chunk, Reply<> done) {
    executor_->post([self = shared_from_this(), chunk = std::move(chunk), done = std::move(done)]() mutable {
        if (self->session_ && chunk.buffer && chunk.buffer->frameLength() > 0) {
            auto samples = self->samplesFrom(*chunk.buffer);
            if (!samples.empty()) {
                try {
                    const StreamText text = self->session_->feedAndWait(std::move(samples));
                    if (self->continuation_) self->continuation_->yield({text.combined(), false});
                } catch (...) {
                    Log::speech().error("Nemotron feed failed: %s", describeError(std::current_exception()));
                }
            }
        }
        done();
    });
}

void NemotronEngine::finish(Reply<> done) {
    executor_->post([self = shared_from_this(), done = std::move(done)]() mutable {
        if (!self->session_) {
            if (self->continuation_) self->continuation_->finish();
            self->continuation_.reset();
            done();
            return;
        }
        auto session = std::exchange(self->session_, nullptr);
        try {
            const StreamText text = session->finalizeStreamAndWait();
            if (self->continuation_) {
                self->continuation_->yield({text.combined(), true});
                self->continuation_->finish();
            }
        } catch (...) {
            const auto error = std::current_exception();
            Log::speech().error("Nemotron finalize failed: %s", describeError(error));
            session->resetStreamAndWait();
            if (self->continuation_) self->continuation_->fail(error);
        }
        self->continuation_.reset();
        done();
    });
}

std::vector<float> NemotronEngine::samplesFrom(const AudioBuffer& buffer) {
    const AudioFormat& format = buffer.format();
    const std::uint32_t frames = buffer.frameLength();
    // Fast path: already the model's format.
    if (format.sampleRate == 16000 && format.channels == 1 && format.sampleType == SampleType::float32) {
        const float* data = buffer.floatData(0);
        return std::vector<float>(data, data + frames);
    }
    if (!converter_ || !(converter_->inputFormat() == format)) {
        converter_ = PcmConverter::make(format, targetFormat);
        if (converter_) ++convertersMade_;
    }
    if (!converter_) {
        Log::speech().error("Nemotron: no converter from %{public}s", format.describe());
        return {};
    }
    AudioBuffer out(targetFormat, PcmConverter::outputCapacity(frames, format.sampleRate, targetFormat.sampleRate));
    std::string error;
    if (converter_->convert(buffer, out, error) == PcmConverter::OutputStatus::error) {
        Log::speech().error("Nemotron: audio conversion failed — %s", error);
        return {};
    }
    const float* data = out.floatData(0);
    return std::vector<float>(data, data + out.frameLength());
}

std::shared_ptr<NemotronEngine> makeNemotronEngineForModelFile(const std::filesystem::path& modelPath) {
    return std::make_shared<NemotronEngine>(NemotronModels::forModelFile(modelPath, messagesLanguageTag()));
}

}  // namespace zarn
