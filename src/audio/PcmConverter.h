#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contracts/AudioBuffer.h"

// Opaque libsoxr resampler (soxr.h), kept out of this header.
typedef struct soxr* soxr_t;

namespace zarn {

// Converts PCM between any two formats (sample rate, channel count, sample type, layout),
// keeping the resampler's state from one call to the next, so a stream converted buffer
// by buffer sounds the same as one converted whole. Pull model: each convert() call asks
// its input block for buffers until the block says there is no more for now.
class PcmConverter {
public:
    enum class InputStatus { haveData, noDataNow, endOfStream };
    enum class OutputStatus { haveData, inputRanDry, endOfStream, error };
    // Answers the next input buffer (haveData), or nullptr with noDataNow / endOfStream.
    using InputBlock = std::function<const AudioBuffer*(InputStatus& status)>;

    // nullptr when no converter can be made between the two formats (message in `error`).
    static std::unique_ptr<PcmConverter> make(const AudioFormat& input, const AudioFormat& output,
                                              std::string* error = nullptr);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    const AudioFormat& inputFormat() const { return input_; }
    const AudioFormat& outputFormat() const { return output_; }

    // Fills `output` (of the output format) up to its capacity and sets its frame length.
    // Output that does not fit stays inside the converter for the next call. On error,
    // returns OutputStatus::error with a message in `error`.
    OutputStatus convert(AudioBuffer& output, std::string& error, const InputBlock& inputBlock);
    // The same for one input buffer the caller has now.
    OutputStatus convert(const AudioBuffer& input, AudioBuffer& output, std::string& error);

    // Frames an output buffer needs for `frames` input frames: ceil(frames × ratio) + 64;
    // 0 when the figure is out of range.
    static std::uint32_t outputCapacity(std::uint32_t frames, double inputRate, double outputRate);

private:
    PcmConverter(const AudioFormat& input, const AudioFormat& output, soxr_t soxr)
        : input_(input), output_(output), soxr_(soxr) {}
    // Input frames → interleaved floats with the output's channel count.
    void mapChannels(const AudioBuffer& in, std::vector<float>& out) const;
    void writeOutput(const float* frames, std::size_t count, AudioBuffer& output, std::size_t at) const;
    // Moves what is waiting into `output`; returns the frames written.
    std::size_t drainPending(AudioBuffer& output, std::size_t at);

    AudioFormat input_;
    AudioFormat output_;
    soxr_t soxr_ = nullptr;  // null when the rates are equal
    std::vector<float> mapped_;
    std::vector<float> pending_;  // converted frames (interleaved) not yet handed out
    std::vector<float> scratch_;
    bool ended_ = false;
};

}  // namespace zarn
