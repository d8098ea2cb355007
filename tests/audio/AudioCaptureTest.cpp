#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "audio/AudioCapture.h"
#include "base/Error.h"
#include "support/LogCapture.h"

namespace zarn {
namespace {

// An input driven by the test: taps are delivered by calling tap() on the test's thread.
class ScriptedInput final : public AudioInput {
public:
    explicit ScriptedInput(AudioFormat format) : format_(format) {}
    AudioFormat nativeFormat() override { return format_; }
    void start(OnTap onTap, OnEnd) override {
        if (failStart) throw MessageError("no microphone");
        onTap_ = std::move(onTap);
        ++starts;
    }
    void stop() override { onTap_ = nullptr; }
    void tap(const AudioBuffer& buffer) {
        if (onTap_) onTap_(buffer);
    }
    bool running() const { return onTap_ != nullptr; }

    bool failStart = false;
    int starts = 0;

private:
    AudioFormat format_;
    OnTap onTap_;
};

// A buffer of n frames whose sample at (frame, channel) is value(frame, channel), in [-1, 1].
AudioBuffer filled(const AudioFormat& format, std::uint32_t n, const std::function<double(std::uint32_t, std::uint32_t)>& value) {
    AudioBuffer buffer(format, n);
    buffer.setFrameLength(n);
    for (std::uint32_t f = 0; f < n; ++f) {
        for (std::uint32_t c = 0; c < format.channels; ++c) {
            const double v = value(f, c);
            const std::size_t plane = format.interleaved ? 0 : c;
            const std::size_t index = format.interleaved ? f * format.channels + c : f;
            switch (format.sampleType) {
                case SampleType::float32: buffer.floatData(plane)[index] = static_cast<float>(v); break;
                case SampleType::int16: buffer.int16Data(plane)[index] = static_cast<std::int16_t>(std::lround(v * 32767)); break;
                case SampleType::int32: buffer.int32Data(plane)[index] = static_cast<std::int32_t>(std::llround(v * 2147483647.0)); break;
            }
        }
    }
    return buffer;
}

// A sine of `hz` at `amplitude`, frames [first, first + n) of a stream.
AudioBuffer sine(const AudioFormat& format, std::uint32_t n, double hz, double amplitude, std::uint64_t first = 0) {
    return filled(format, n, [&](std::uint32_t f, std::uint32_t) {
        return amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(first + f) / format.sampleRate);
    });
}

double rms(const std::vector<float>& samples, std::size_t skip) {
    double sum = 0;
    for (std::size_t i = skip; i < samples.size(); ++i) sum += samples[i] * samples[i];
    return std::sqrt(sum / static_cast<double>(samples.size() - skip));
}

// Frequency estimated from the rising zero crossings.
double frequency(const std::vector<float>& samples, double rate, std::size_t skip) {
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = skip + 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * rate / static_cast<double>(last - first);
}

// Runs `taps` buffers of a sine through a capture and gathers the first channel of what comes out.
struct Conversion {
    std::vector<std::shared_ptr<const AudioBuffer>> chunks;
    std::vector<float> samples;
};
Conversion convert(const AudioFormat& native, const AudioFormat& output, int taps, double hz, double amplitude) {
    auto input = std::make_shared<ScriptedInput>(native);
    AudioCapture capture(input);
    Conversion result;
    capture.start(output, [&](std::shared_ptr<const AudioBuffer> b) { result.chunks.push_back(b); }, nullptr);
    for (int t = 0; t < taps; ++t) input->tap(sine(native, AudioInput::tapFrames, hz, amplitude, static_cast<std::uint64_t>(t) * AudioInput::tapFrames));
    capture.stop();
    for (const auto& chunk : result.chunks) {
        EXPECT_EQ(chunk->format(), output);
        for (std::uint32_t f = 0; f < chunk->frameLength(); ++f) result.samples.push_back(chunk->sampleAsFloat(0, f));
    }
    return result;
}

TEST(AudioCaptureConversion, EverySourceKeepsItsPitchAndLevelAtTheEnginesFormat) {
    EXPECT_EQ(PcmConverter::outputCapacity(2048, 48000, 16000), 747u);
    EXPECT_EQ(PcmConverter::outputCapacity(2048, 44100, 16000), 808u);  // ceil(743.03) + 64
    EXPECT_EQ(PcmConverter::outputCapacity(0, 48000, 16000), 64u);
    struct Row {
        AudioFormat native, output;
        int taps;
        double hz, amplitude;
    };
    for (const Row& r : {Row{{48000, 1, SampleType::float32, false}, AudioFormat::monoFloat(16000), 24, 440, 0.5},
                         Row{{48000, 2, SampleType::int16, true}, AudioFormat::monoFloat(16000), 16, 300, 0.5},
                         Row{{44100, 1, SampleType::int32, false}, AudioFormat::monoFloat(16000), 16, 300, 0.25},
                         Row{{48000, 1, SampleType::float32, false}, {16000, 1, SampleType::int16, false}, 8, 300, 0.5}}) {
        SCOPED_TRACE(testing::Message() << r.native.sampleRate << " Hz, " << r.native.channels << " channels");
        const Conversion c = convert(r.native, r.output, r.taps, r.hz, r.amplitude);
        ASSERT_FALSE(c.chunks.empty());
        for (const auto& chunk : c.chunks)
            EXPECT_EQ(chunk->frameCapacity(), PcmConverter::outputCapacity(2048, r.native.sampleRate, 16000));
        // Nothing lost but the resampler's short delay.
        const auto expected = static_cast<std::size_t>(r.taps * 2048.0 * 16000 / r.native.sampleRate);
        EXPECT_LE(c.samples.size(), expected);
        EXPECT_GT(c.samples.size(), expected - 600);
        EXPECT_NEAR(frequency(c.samples, 16000, 400), r.hz, 2);
        EXPECT_NEAR(rms(c.samples, 400), r.amplitude / std::sqrt(2.0), 0.01);
        // Converted tap by tap, the sine stays smooth at every tap boundary: the resampler keeps its state.
        const double maxStep = r.amplitude * 2 * std::numbers::pi * r.hz / 16000 * 1.05;
        for (std::size_t i = 400; i < c.samples.size(); ++i)
            ASSERT_LE(std::abs(c.samples[i] - c.samples[i - 1]), maxStep) << "at output frame " << i;
    }
    // Same rate, other sample type: exact values, nothing held back.
    const AudioFormat int16Mono{16000, 1, SampleType::int16, false};
    const Conversion d = convert(int16Mono, AudioFormat::monoFloat(16000), 2, 300, 0.5);
    ASSERT_EQ(d.samples.size(), 2u * 2048);
    const AudioBuffer reference = sine(int16Mono, 2048, 300, 0.5);
    for (std::uint32_t f = 0; f < 2048; ++f) ASSERT_FLOAT_EQ(d.samples[f], reference.int16Data(0)[f] / 32768.0f);
}

TEST(AudioCaptureConversion, EqualFormatsAreCopiedNotConverted) {
    const AudioFormat format = AudioFormat::monoFloat(16000);
    auto input = std::make_shared<ScriptedInput>(format);
    AudioCapture capture(input);
    std::vector<std::shared_ptr<const AudioBuffer>> chunks;
    capture.start(format, [&](std::shared_ptr<const AudioBuffer> b) { chunks.push_back(b); }, nullptr);
    EXPECT_FALSE(capture.isConverting());
    AudioBuffer tap = sine(format, 2048, 440, 0.5);
    tap.setFrameLength(1500);  // a partly filled tap
    input->tap(tap);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0]->frameLength(), 1500u);
    EXPECT_EQ(chunks[0]->frameCapacity(), 1500u);
    EXPECT_NE(chunks[0]->floatData(0), tap.floatData(0));
    // The copy does not change when the input reuses its buffer.
    const float before = chunks[0]->floatData(0)[100];
    tap.floatData(0)[100] = 0.99f;
    EXPECT_EQ(chunks[0]->floatData(0)[100], before);
    for (std::uint32_t f = 0; f < 1500; ++f) ASSERT_EQ(chunks[0]->floatData(0)[f], sine(format, 2048, 440, 0.5).floatData(0)[f]);

    // Stereo interleaved copies keep both channels.
    const AudioFormat stereo{44100, 2, SampleType::int16, true};
    const AudioBuffer s = sine(stereo, 64, 1000, 0.5);
    auto copied = AudioCapture::copy(s);
    ASSERT_TRUE(copied);
    for (std::uint32_t f = 0; f < 64; ++f) {
        ASSERT_EQ(copied->sampleAsFloat(1, f), s.sampleAsFloat(1, f));
    }
    AudioBuffer empty(stereo, 16);
    EXPECT_EQ(AudioCapture::copy(empty), nullptr);
}

// The first channel's RMS in dB: -50 dB and below is 0, 0 dB is 1; rms 0.707 is about -3 dB, -30 dB is 0.4.
TEST(AudioCaptureLevel, FollowsTheDecibelScaleOfTheFirstChannel) {
    const AudioFormat mono = AudioFormat::monoFloat(48000), stereo16{48000, 2, SampleType::int16, true};
    const auto square = [](std::uint32_t f, std::uint32_t) { return (f / 24) % 2 ? 1.0 : -1.0; };
    const auto firstHalf = [](AudioBuffer b) {
        b.setFrameLength(b.frameLength() / 2);
        return b;
    };
    const std::vector<std::pair<AudioBuffer, float>> rows{
        {filled(mono, 2048, [](auto, auto) { return 0.0; }), 0.0f},
        {filled(mono, 2048, square), 1.0f},
        {sine(mono, 2048, 1000, 1.0), 0.94f},
        {sine(mono, 48000, 1000, std::sqrt(2.0) * 0.0316227766), 0.4f},
        {sine(mono, 48000, 1000, std::sqrt(2.0) * 0.001), 0.0f},
        {AudioBuffer(mono, 2048), 0.0f},  // no frames
        {firstHalf(filled(mono, 2048, [](auto f, auto) { return f < 1024 ? 0.0 : 1.0; })), 0.0f},  // a reused buffer's tail
        {filled(stereo16, 2048, [&](auto f, auto c) { return c == 0 ? square(f, c) : 0.0; }), 1.0f},
        {filled(stereo16, 2048, [](auto, auto c) { return c == 1 ? 1.0 : 0.0; }), 0.0f},
        {filled(mono, 4, [](auto, auto) { return std::nan(""); }), 0.0f},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_NEAR(AudioCapture::level(rows[i].first), rows[i].second, 0.005) << i;
}

TEST(AudioCaptureLifecycle, StartStopLogsAndCallbacks) {
    test::LogCapture log;
    const AudioFormat native{48000, 1, SampleType::float32, false};
    auto input = std::make_shared<ScriptedInput>(native);
    AudioCapture capture(input);

    capture.stop();  // not running: nothing happens, nothing logged
    EXPECT_EQ(log.count(), 0u);

    std::vector<float> levels;
    int firstChunks = 0, secondChunks = 0;
    capture.start(AudioFormat::monoFloat(16000), [&](auto) { ++firstChunks; }, [&](float l) { levels.push_back(l); });
    EXPECT_TRUE(capture.isRunning());
    EXPECT_TRUE(capture.isConverting());
    // A second start changes nothing: the first callbacks and format stay.
    capture.start(AudioFormat::monoFloat(8000), [&](auto) { ++secondChunks; }, nullptr);
    EXPECT_EQ(input->starts, 1);
    EXPECT_EQ(*capture.outputFormat(), AudioFormat::monoFloat(16000));

    input->tap(sine(native, 2048, 440, 1.0));
    AudioBuffer empty(native, 2048);
    input->tap(empty);  // zero frames: level 0, no chunk
    EXPECT_EQ(firstChunks, 1);
    EXPECT_EQ(secondChunks, 0);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0], 0.94, 0.005);
    EXPECT_EQ(levels[1], 0.0f);

    capture.stop();
    EXPECT_FALSE(capture.isRunning());
    EXPECT_FALSE(input->running());
    EXPECT_EQ(*capture.outputFormat(), AudioFormat::monoFloat(16000));  // kept until the next start
    capture.stop();

    // Rates are numbers, public without a marker.
    EXPECT_EQ(log.messages("audio"), (std::vector<std::string>{"capture started — native 48000Hz → engine 16000Hz",
                                                        "capture stopped"}));
}

TEST(AudioCaptureLifecycle, FailedOrRefusedStartStaysStoppedAndCanBeRetried) {
    auto input = std::make_shared<ScriptedInput>(AudioFormat::monoFloat(48000));
    AudioCapture capture(input);
    input->failStart = true;
    EXPECT_THROW(capture.start(AudioFormat::monoFloat(16000), [](auto) {}, nullptr), MessageError);
    EXPECT_FALSE(capture.isRunning());
    input->failStart = false;
    try {
        capture.start({-1, 1, SampleType::float32, false}, [](auto) {}, nullptr);
        ADD_FAILURE() << "expected an error";
    } catch (const MessageError& e) {
        EXPECT_NE(e.errorDescription().find("Can't convert audio from 48000 Hz"), std::string::npos);
    }
    EXPECT_FALSE(capture.isRunning());
    int chunks = 0;
    capture.start(AudioFormat::monoFloat(16000), [&](auto) { ++chunks; }, nullptr);
    input->tap(sine(AudioFormat::monoFloat(48000), 2048, 440, 0.5));
    EXPECT_EQ(chunks, 1);
}

}  // namespace
}  // namespace zarn
