#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "audio/AudioCapture.h"
#include "base/ManualExecutor.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/sphinxspeech/SphinxSpeechFramework.h"
#include "platform/linux/pulse/PulseDaemon.h"
#include "support/EngineDriver.h"
#include "support/TempDir.h"
#include "support/TestAudio.h"
#include "systemspeech/AppleSpeechEngine.h"

namespace zarn {
namespace {

namespace fs = std::filesystem;
using test::PulseDaemon;
using namespace std::chrono_literals;

std::vector<std::int16_t> goForward() {
    const std::string bytes = test::readFile(test::kGoForwardRaw);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

TEST(PulseAudioEndToEnd, RecordedSpeechComesBackAsWordsThroughCapture) {
    PulseDaemon daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();

    auto input = std::make_shared<PulseAudioInput>(PulseAudioInput::Options{daemon.server(), "", "Zarn test"});
    EXPECT_EQ(input->nativeFormat(), (AudioFormat{16000, 1, SampleType::int16, false}));

    auto framework = std::make_shared<sphinx::SphinxSpeechFramework>(std::vector<fs::path>{"/usr/share/pocketsphinx/model"});
    auto engine = std::make_shared<AppleSpeechEngine>(framework, "en-US");
    ManualExecutor main;
    test::EngineDriver driver(*engine, main, 120s);
    ASSERT_EQ(driver.start(), nullptr);
    const std::optional<AudioFormat> format = driver.preferredFormat();
    ASSERT_TRUE(format);

    const std::vector<std::int16_t> speech = goForward();
    double expectedEnergy = 0;
    for (auto s : speech) expectedEnergy += (s / 32768.0) * (s / 32768.0);

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::shared_ptr<const AudioBuffer>> buffers;
    double energy = 0;
    std::vector<float> levels;
    AudioCapture capture(input);
    capture.start(*format,
                  [&](std::shared_ptr<const AudioBuffer> buffer) {
                      std::lock_guard lock(mutex);
                      for (std::uint32_t f = 0; f < buffer->frameLength(); ++f) {
                          const double v = buffer->floatData(0)[f];
                          energy += v * v;
                      }
                      buffers.push_back(std::move(buffer));
                      arrived.notify_all();
                  },
                  [&](float level) {
                      std::lock_guard lock(mutex);
                      levels.push_back(level);
                  });
    EXPECT_TRUE(capture.isConverting());  // int16 → float at the same rate is a conversion
    // The speech goes into the source's pipe once the recording stream is listening.
    std::thread writer([&] {
        const int fd = ::open(daemon.fifo().c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const auto* bytes = reinterpret_cast<const char*>(speech.data());
        std::size_t left = speech.size() * 2, at = 0;
        while (left > 0) {
            const ssize_t n = ::write(fd, bytes + at, std::min<std::size_t>(left, 8192));
            ASSERT_GT(n, 0);
            at += static_cast<std::size_t>(n);
            left -= static_cast<std::size_t>(n);
        }
        // A second of silence rounds off the last tap.
        const std::vector<char> silence(32000, 0);
        ASSERT_EQ(::write(fd, silence.data(), silence.size()), static_cast<ssize_t>(silence.size()));
        ::close(fd);
    });
    {
        std::unique_lock lock(mutex);
        const bool all = arrived.wait_for(lock, 120s, [&] { return energy >= expectedEnergy * 0.999; });
        EXPECT_TRUE(all) << "captured energy " << energy << " of " << expectedEnergy;
    }
    writer.join();
    capture.stop();

    std::vector<std::shared_ptr<const AudioBuffer>> captured;
    {
        std::lock_guard lock(mutex);
        captured = buffers;
        EXPECT_FALSE(levels.empty());
        EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.3f);  // speech moves the meter
    }
    for (const auto& b : captured) EXPECT_EQ(b->frameLength(), AudioInput::tapFrames);
    driver.feedAll(captured);
    EXPECT_EQ(driver.finish(), "go forward ten meters");
}

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const MessageError& e) {
        return e.errorDescription();
    }
    return "no error";
}

// No server, no such source, and a server that goes away while the input runs.
TEST(PulseAudioEndToEnd, MissingServerOrSourceAndServerLossAreClearErrors) {
    test::TempDir dir;
    PulseAudioInput nowhere({"unix:" + (dir / "none").string(), "", "Zarn test"});
    EXPECT_NE(errorOf([&] { nowhere.nativeFormat(); }).find("Can't use the microphone: cannot connect to the audio server"),
              std::string::npos);

    PulseDaemon daemon;
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    PulseAudioInput missing({daemon.server(), "no_such_source", "Zarn test"});
    EXPECT_NE(errorOf([&] { missing.nativeFormat(); }).find("no_such_source"), std::string::npos);
    AudioCapture capture(std::make_shared<PulseAudioInput>(PulseAudioInput::Options{daemon.server(), "no_such_source", "t"}));
    EXPECT_THROW(capture.start(AudioFormat::monoFloat(16000), [](auto) {}, nullptr), MessageError);
    EXPECT_FALSE(capture.isRunning());

    PulseAudioInput input({daemon.server(), "", "Zarn test"});
    std::promise<std::exception_ptr> ended;
    input.start([](const AudioBuffer&) {}, [&](std::exception_ptr e) { ended.set_value(e); });
    daemon.kill();
    auto future = ended.get_future();
    ASSERT_EQ(future.wait_for(60s), std::future_status::ready);
    const auto error = future.get();
    ASSERT_TRUE(error);
    EXPECT_NE(describeError(error).find("audio server went away"), std::string::npos) << describeError(error);
    input.stop();
}

}  // namespace
}  // namespace zarn
