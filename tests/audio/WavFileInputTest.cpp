#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>

#include "audio/WavFileInput.h"
#include "base/Error.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace zarn {
namespace {

void put16(std::string& s, std::uint16_t v) { s += static_cast<char>(v & 0xff), s += static_cast<char>(v >> 8); }
void put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
}

struct WavSpec {
    std::uint16_t tag = 1;
    std::uint16_t channels = 1;
    std::uint32_t rate = 16000;
    std::uint16_t bits = 16;
    bool extensible = false;
};

// A WAV file: an optional "LIST" chunk of odd size before the format, then the data.
std::string wav(const WavSpec& spec, const std::string& data, bool listChunk = false) {
    std::string fmt;
    put16(fmt, spec.extensible ? 0xFFFE : spec.tag);
    put16(fmt, spec.channels);
    put32(fmt, spec.rate);
    put32(fmt, spec.rate * spec.channels * spec.bits / 8);
    put16(fmt, static_cast<std::uint16_t>(spec.channels * spec.bits / 8));
    put16(fmt, spec.bits);
    if (spec.extensible) {
        put16(fmt, 22);
        put16(fmt, spec.bits);
        put32(fmt, 3);
        put16(fmt, spec.tag);
        fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    std::string body = "WAVE";
    if (listChunk) {
        body += "LIST";
        put32(body, 3);
        body += std::string("abc\0", 4);
    }
    body += "fmt ";
    put32(body, static_cast<std::uint32_t>(fmt.size()));
    body += fmt;
    body += "data";
    put32(body, static_cast<std::uint32_t>(data.size()));
    body += data;
    std::string file = "RIFF";
    put32(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

template <class T>
std::string samples(const std::vector<T>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

// Reads a whole input as fast as possible; returns the frames as floats, channel by channel.
struct Gathered {
    std::vector<std::vector<float>> channels;
    std::vector<std::uint32_t> tapLengths;
    std::exception_ptr end;
};
Gathered gather(WavFileInput& input) {
    Gathered g;
    g.channels.resize(input.nativeFormat().channels);
    std::promise<std::exception_ptr> ended;
    input.start(
        [&](const AudioBuffer& b) {
            g.tapLengths.push_back(b.frameLength());
            for (std::uint32_t c = 0; c < b.format().channels; ++c)
                for (std::uint32_t f = 0; f < b.frameLength(); ++f) g.channels[c].push_back(b.sampleAsFloat(c, f));
        },
        [&](std::exception_ptr e) { ended.set_value(e); });
    g.end = ended.get_future().get();
    input.stop();
    return g;
}

std::string errorOpening(const std::filesystem::path& path) {
    try {
        WavFileInput::open(path, WavFileInput::Pace::asFastAsConsumed);
    } catch (const MessageError& e) {
        return e.errorDescription();
    }
    return "";
}

TEST(WavFileInput, ReadsEverySupportedSampleFormat) {
    test::TempDir dir;
    // 16-bit mono, 5000 frames: taps of 2048, 2048 and 904.
    std::vector<std::int16_t> pcm16(5000);
    for (std::size_t i = 0; i < pcm16.size(); ++i) pcm16[i] = static_cast<std::int16_t>(i * 7 - 16000);
    test::writeFile(dir / "a.wav", wav({}, samples(pcm16), true));
    auto a = WavFileInput::open(dir / "a.wav", WavFileInput::Pace::asFastAsConsumed);
    EXPECT_EQ(a->nativeFormat(), (AudioFormat{16000, 1, SampleType::int16, false}));
    EXPECT_EQ(a->frameCount(), 5000u);
    EXPECT_DOUBLE_EQ(a->durationSeconds(), 5000.0 / 16000);
    Gathered ga = gather(*a);
    EXPECT_EQ(ga.end, nullptr);
    EXPECT_EQ(ga.tapLengths, (std::vector<std::uint32_t>{2048, 2048, 904}));
    ASSERT_EQ(ga.channels[0].size(), 5000u);
    for (std::size_t i = 0; i < 5000; ++i) ASSERT_FLOAT_EQ(ga.channels[0][i], pcm16[i] / 32768.0f);

    // 32-bit integer stereo at 44.1 kHz, interleaved as in the file; 32-bit float with the
    // extensible header; an empty recording, which ends at once.
    struct Row {
        WavSpec spec;
        std::string data;
        AudioFormat format;
        std::vector<std::vector<float>> channels;
    };
    for (const Row& r : {Row{{1, 2, 44100, 32}, samples(std::vector<std::int32_t>{1 << 30, -(1 << 30), 0, 1 << 29}),
                             {44100, 2, SampleType::int32, true}, {{0.5f, 0.0f}, {-0.5f, 0.25f}}},
                         Row{{3, 1, 48000, 32, true}, samples(std::vector<float>{0.25f, -0.75f, 1.0f}),
                             AudioFormat::monoFloat(48000), {{0.25f, -0.75f, 1.0f}}},
                         Row{{}, "", {16000, 1, SampleType::int16, false}, {{}}}}) {
        test::writeFile(dir / "b.wav", wav(r.spec, r.data));
        auto input = WavFileInput::open(dir / "b.wav", WavFileInput::Pace::asFastAsConsumed);
        EXPECT_EQ(input->nativeFormat(), r.format);
        const Gathered g = gather(*input);
        EXPECT_EQ(g.channels, r.channels);
        EXPECT_EQ(g.end, nullptr);
    }

    // Bare samples of a stated format.
    test::writeFile(dir / "e.raw", samples(pcm16));
    auto e = WavFileInput::openRaw(dir / "e.raw", {16000, 1, SampleType::int16, false}, WavFileInput::Pace::asFastAsConsumed);
    EXPECT_EQ(gather(*e).channels[0].size(), 5000u);
}

TEST(WavFileInput, DamagedOrUnsupportedFilesNameTheFileAndTheProblem) {
    test::TempDir dir;
    const std::string data = samples(std::vector<std::int16_t>(100, 5));
    struct Case {
        std::string name;
        std::string bytes;
        std::string problem;
    };
    std::string truncated = wav({}, data);
    truncated.resize(truncated.size() - 200);
    std::string halfFrame = wav({}, data);
    halfFrame.replace(halfFrame.size() - data.size() - 4, 4, std::string("\xC7\x00\x00\x00", 4));  // 199 bytes
    std::string noData = wav({}, data).substr(0, 36);
    std::string badAlign = wav({}, data);
    badAlign[32] = 7;
    const std::vector<Case> cases = {
        {"short.wav", "RIFF", "too short to be a WAV file"},
        {"text.wav", "hello, this is not audio at all", "not a WAV file"},
        {"truncated.wav", truncated, "data chunk is truncated (200 bytes declared, 0 present)"},
        {"half.wav", halfFrame, "ends in the middle of a frame"},
        {"nodata.wav", noData, "no data chunk"},
        {"eight.wav", wav({1, 1, 16000, 8}, data), "unsupported sample format (format 1, 8 bits)"},
        {"double.wav", wav({3, 1, 16000, 64}, data), "unsupported sample format (format 3, 64 bits)"},
        {"alaw.wav", wav({6, 1, 8000, 16}, data), "unsupported sample format (format 6"},
        {"three.wav", wav({1, 3, 16000, 16}, samples(std::vector<std::int16_t>(99, 0))), "unsupported channel count 3"},
        {"rate.wav", wav({1, 1, 0, 16}, data), "invalid sample rate 0 Hz"},
        {"align.wav", badAlign, "block alignment"},
    };
    for (const auto& c : cases) {
        test::writeFile(dir / c.name, c.bytes);
        const std::string message = errorOpening(dir / c.name);
        EXPECT_NE(message.find((dir / c.name).string()), std::string::npos) << c.name << ": " << message;
        EXPECT_NE(message.find(c.problem), std::string::npos) << c.name << ": " << message;
    }
    EXPECT_NE(errorOpening(dir / "missing.wav").find("no such file"), std::string::npos);
    EXPECT_NE(errorOpening(dir.path()).find("folder"), std::string::npos);

    test::writeFile(dir / "odd.raw", "abc");
    EXPECT_THROW(WavFileInput::openRaw(dir / "odd.raw", {16000, 1, SampleType::int16, false}, WavFileInput::Pace::realTime),
                 MessageError);
}

// As a killed recorder leaves them: the header declares more audio than the file holds.
TEST(WavFileInput, CutShortFilesGiveTheAudioThatIsThere) {
    test::TempDir dir;
    const std::string data = samples(std::vector<std::int16_t>(100, 5));
    std::string unfinished = wav({}, data);
    unfinished.replace(unfinished.size() - data.size() - 4, 4, "\xFF\xFF\xFF\xFF");  // never filled in
    struct Case {
        std::string bytes;
        std::uint64_t frames;
        std::string warning;
    };
    for (const auto& c : std::vector<Case>{
             {wav({}, data).substr(0, 44 + 197), 98, "cut short: 200 bytes of audio declared, 197 present"},
             {unfinished, 100, "cut short: 4294967295 bytes of audio declared, 200 present"},
             {wav({}, data), 100, ""},
         }) {
        test::LogCapture logs;
        test::writeFile(dir / "cut.wav", c.bytes);
        auto input = WavFileInput::open(dir / "cut.wav", WavFileInput::Pace::asFastAsConsumed);
        EXPECT_EQ(input->frameCount(), c.frames);
        EXPECT_EQ(gather(*input).channels[0].size(), c.frames);
        EXPECT_EQ(input->warning().empty(), c.warning.empty()) << input->warning();
        EXPECT_NE(input->warning().find(c.warning), std::string::npos) << input->warning();
        EXPECT_EQ(logs.messages("audio").size(), c.warning.empty() ? 0u : 1u);
    }
}

TEST(WavFileInput, StopsPromptlyAndCanBeRestartedFromTheBeginning) {
    test::TempDir dir;
    // Ten minutes of silence at real-time pace: stop must not wait for it.
    test::writeFile(dir / "long.wav", wav({1, 1, 8000, 16}, std::string(8000 * 2 * 600, '\0')));
    auto input = WavFileInput::open(dir / "long.wav", WavFileInput::Pace::realTime);
    bool ended = false;
    input->start([](const AudioBuffer&) {}, [&](std::exception_ptr) { ended = true; });
    input->stop();
    EXPECT_FALSE(ended);

    // A consumer that blocks holds the file back instead of losing audio.
    std::vector<std::int16_t> pcm(10000);
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>(i);
    test::writeFile(dir / "b.wav", wav({}, samples(pcm)));
    auto b = WavFileInput::open(dir / "b.wav", WavFileInput::Pace::asFastAsConsumed);
    for (int round = 0; round < 2; ++round) {
        std::mutex m;
        std::condition_variable cv;
        int taps = 0;
        bool release = false;
        std::size_t frames = 0;
        std::promise<void> done;
        b->start(
            [&](const AudioBuffer& buf) {
                std::unique_lock lock(m);
                ++taps;
                frames += buf.frameLength();
                cv.notify_all();
                cv.wait(lock, [&] { return release; });
            },
            [&](std::exception_ptr) { done.set_value(); });
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return taps == 1; });
            EXPECT_EQ(taps, 1);  // held at the first tap
            release = true;
            cv.notify_all();
        }
        done.get_future().get();
        b->stop();
        EXPECT_EQ(frames, 10000u) << "round " << round;
    }
}

}  // namespace
}  // namespace zarn
