#include "speech/SampleConverter.h"

#include <soxr.h>

#include <cmath>

namespace zarn {

std::unique_ptr<SampleConverter> SampleConverter::make(const AudioFormat& input, double outputRate, std::string& error) {
    if (!(std::isfinite(input.sampleRate) && input.sampleRate > 0) || input.channels == 0 ||
        !(std::isfinite(outputRate) && outputRate > 0)) {
        error = "invalid format";
        return nullptr;
    }
    soxr_error_t soxrError = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    soxr_t soxr = soxr_create(input.sampleRate, outputRate, 1, &soxrError, &io, &quality, nullptr);
    if (!soxr || soxrError) {
        error = soxrError ? soxrError : "cannot create resampler";
        if (soxr) soxr_delete(soxr);
        return nullptr;
    }
    return std::unique_ptr<SampleConverter>(new SampleConverter(input, soxr));
}

SampleConverter::~SampleConverter() { soxr_delete(soxr_); }

bool SampleConverter::convert(const AudioBuffer& buffer, std::uint32_t capacity, std::vector<float>& out,
                              std::string& error) {
    if (!(buffer.format() == input_)) {
        error = "buffer format differs from the converter's";
        return false;
    }
    const std::uint32_t frames = buffer.frameLength();
    const std::uint32_t channels = input_.channels;
    mono_.resize(frames);
    for (std::uint32_t f = 0; f < frames; ++f) {
        float sum = 0;
        for (std::uint32_t c = 0; c < channels; ++c) sum += buffer.sampleAsFloat(c, f);
        mono_[f] = sum / static_cast<float>(channels);
    }
    out.resize(capacity);
    std::size_t used = 0, produced = 0;
    const soxr_error_t soxrError = soxr_process(soxr_, mono_.data(), mono_.size(), &used, out.data(), out.size(), &produced);
    if (soxrError) {
        error = soxrError;
        out.clear();
        return false;
    }
    out.resize(produced);
    return true;
}

}  // namespace zarn
