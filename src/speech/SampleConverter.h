#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contracts/AudioBuffer.h"

typedef struct soxr* soxr_t;

namespace zarn {

// Turns buffers of one input format into mono float samples at another rate (channels are
// averaged, then resampled by libsoxr). It keeps its resampling state from one buffer to
// the next, so a stream cut into chunks converts as if whole.
class SampleConverter {
public:
    // nullptr and a reason when no converter can be made for `input`.
    static std::unique_ptr<SampleConverter> make(const AudioFormat& input, double outputRate, std::string& error);
    ~SampleConverter();
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;

    const AudioFormat& input() const { return input_; }
    // Converts the buffer's frames; at most `capacity` output samples come back now, the
    // rest stay in the converter. False and a reason on failure.
    bool convert(const AudioBuffer& buffer, std::uint32_t capacity, std::vector<float>& out, std::string& error);

private:
    SampleConverter(AudioFormat input, soxr_t soxr) : input_(input), soxr_(soxr) {}
    AudioFormat input_;
    soxr_t soxr_;
    std::vector<float> mono_;
};

}  // namespace zarn
