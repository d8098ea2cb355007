// Prints the real-time factor (processing time / audio time) of streaming recognition over
// the LibriVox clips of pocketsphinx-testdata, for NemotronEngine and for
// pocketsphinx_continuous on the same clips, and their ratio.
//   bench_speech_rtf [ROUNDS]
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SphinxModel.h"
#include "base/EventLoop.h"
#include "speech/NemotronEngine.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* kModel = "/usr/share/pocketsphinx/model/en-us";
const char* kClips = "/usr/share/pocketsphinx/test/data/librivox";

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time, which other load on the machine does not inflate the way it does wall time.
double processCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double childrenCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// 16 kHz 16-bit mono WAV: the samples of its data chunk.
std::vector<float> readWav(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        std::uint32_t size;
        std::memcpy(&size, bytes.data() + pos + 4, 4);
        if (bytes.compare(pos, 4, "data") == 0) {
            const std::size_t end = std::min(bytes.size(), pos + 8 + size);
            for (std::size_t i = pos + 8; i + 1 < end; i += 2) {
                std::int16_t v;
                std::memcpy(&v, bytes.data() + i, 2);
                samples.push_back(v / 32768.0f);
            }
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return samples;
}

std::string runCommand(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    for (char& c : out) {
        if (c == '\n') c = ' ';
    }
    return out;
}

std::string continuous(const fs::path& wav) {
    const std::string m = kModel;
    return runCommand("pocketsphinx_continuous -infile '" + wav.string() + "' -hmm " + m + "/en-us -lm " + m +
                      "/en-us.lm.bin -dict " + m + "/cmudict-en-us.dict -logfn /dev/null 2>/dev/null");
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<fs::path> clips;
    for (const auto& entry : fs::directory_iterator(kClips)) {
        if (entry.path().extension() == ".wav") clips.push_back(entry.path());
    }
    std::sort(clips.begin(), clips.end());
    if (clips.empty()) {
        std::fprintf(stderr, "no clips in %s (install pocketsphinx-testdata)\n", kClips);
        return 1;
    }

    char folder[] = "/tmp/zarn-bench-XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    const fs::path model = fs::path(folder) / "en-us.gguf";
    std::string error;
    if (!transcribe::sphinx::pack(kModel, model.string(), "", error)) {
        std::fprintf(stderr, "pack failed: %s\n", error.c_str());
        return 1;
    }

    zarn::EventLoop loop;
    auto engine = zarn::makeNemotronEngineForModelFile(model);
    const auto wait = [&](auto& flag) { loop.runUntil([&] { return flag; }, std::chrono::minutes(5)); };

    // The first start loads the model.
    double loadSeconds = 0;
    double ourAudio = 0, ourBusy = 0, ourCpu = 0;
    std::vector<std::string> ourTexts(clips.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t c = 0; c < clips.size(); ++c) {
            const auto samples = readWav(clips[c]);
            const auto t0 = Clock::now();
            bool started = false, ok = false;
            std::shared_ptr<zarn::TranscriptionEngine::ChunkStream> stream;
            engine->start({loop, [&](zarn::Result<std::shared_ptr<zarn::TranscriptionEngine::ChunkStream>> r) {
                               started = true;
                               ok = r.ok();
                               if (ok) stream = r.value();
                           }});
            wait(started);
            if (!ok) {
                std::fprintf(stderr, "start failed\n");
                return 1;
            }
            const auto t1 = Clock::now();
            const double cpu1 = processCpu();
            if (round == 0 && c == 0) loadSeconds = seconds(t1 - t0);
            std::string finalText;
            bool ended = false;
            stream->subscribe(loop, [&](zarn::TranscriptionChunk chunk) { if (chunk.isFinal) finalText = chunk.text; },
                              [&](std::exception_ptr) { ended = true; });
            // Capture cadence: 683-sample chunks of 16 kHz mono float.
            for (std::size_t pos = 0; pos < samples.size(); pos += 683) {
                const auto frames = static_cast<std::uint32_t>(std::min<std::size_t>(683, samples.size() - pos));
                auto buffer = std::make_shared<zarn::AudioBuffer>(zarn::NemotronEngine::targetFormat, frames);
                buffer->setFrameLength(frames);
                std::memcpy(buffer->floatData(0), samples.data() + pos, frames * sizeof(float));
                bool fed = false;
                engine->feed({buffer}, {loop, [&] { fed = true; }});
                wait(fed);
            }
            bool finished = false;
            engine->finish({loop, [&] { finished = true; }});
            wait(finished);
            wait(ended);
            ourBusy += seconds(Clock::now() - t1);
            ourCpu += processCpu() - cpu1;
            ourAudio += static_cast<double>(samples.size()) / 16000.0;
            ourTexts[c] = finalText;
        }
    }

    // pocketsphinx_continuous loads the model at every run: its load time is measured on
    // a clip of silence and taken off.
    const fs::path silence = fs::path(folder) / "silence.wav";
    {
        std::ofstream out(silence, std::ios::binary);
        const std::uint32_t dataBytes = 3200;
        const std::uint32_t riff = 36 + dataBytes, fmtSize = 16, rate = 16000, byteRate = 32000;
        const std::uint16_t pcm = 1, mono = 1, align = 2, bits = 16;
        out.write("RIFF", 4).write(reinterpret_cast<const char*>(&riff), 4).write("WAVEfmt ", 8);
        out.write(reinterpret_cast<const char*>(&fmtSize), 4).write(reinterpret_cast<const char*>(&pcm), 2);
        out.write(reinterpret_cast<const char*>(&mono), 2).write(reinterpret_cast<const char*>(&rate), 4);
        out.write(reinterpret_cast<const char*>(&byteRate), 4).write(reinterpret_cast<const char*>(&align), 2);
        out.write(reinterpret_cast<const char*>(&bits), 2).write("data", 4);
        out.write(reinterpret_cast<const char*>(&dataBytes), 4);
        out.write(std::string(dataBytes, '\0').data(), dataBytes);
    }
    double theirLoad = 0, theirLoadCpu = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = Clock::now();
        const double cpu0 = childrenCpu();
        continuous(silence);
        theirLoad += seconds(Clock::now() - t0);
        theirLoadCpu += childrenCpu() - cpu0;
    }
    theirLoad /= rounds;
    theirLoadCpu /= rounds;
    double theirAudio = 0, theirTotal = 0, theirCpu = 0;
    std::vector<std::string> theirTexts(clips.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t c = 0; c < clips.size(); ++c) {
            const auto t0 = Clock::now();
            const double cpu0 = childrenCpu();
            theirTexts[c] = continuous(clips[c]);
            theirTotal += seconds(Clock::now() - t0);
            theirCpu += childrenCpu() - cpu0;
            theirAudio += static_cast<double>(fs::file_size(clips[c]) - 44) / 32000.0;
        }
    }
    const double runs = static_cast<double>(rounds) * static_cast<double>(clips.size());
    const double theirBusy = theirTotal - theirLoad * runs;

    for (std::size_t c = 0; c < clips.size(); ++c) {
        std::printf("%s\n  engine:     %s\n  continuous: %s\n", clips[c].filename().c_str(), ourTexts[c].c_str(),
                    theirTexts[c].c_str());
    }
    const double ourRtf = ourBusy / ourAudio;
    const double theirRtf = theirBusy / theirAudio;
    std::printf("\naudio: %zu clips, %.1f s, %d rounds\n", clips.size(), ourAudio / rounds, rounds);
    std::printf("NemotronEngine (streaming, 683-sample chunks): RTF %.4f   model load %.2f s (once per process)\n",
                ourRtf, loadSeconds);
    std::printf("pocketsphinx_continuous:                       RTF %.4f   model load %.2f s (every run); "
                "RTF with load %.4f\n",
                theirRtf, theirLoad, theirTotal / theirAudio);
    std::printf("ratio engine/continuous (decoding only, wall): %.2f\n", ourRtf / theirRtf);
    const double ourCpuRtf = ourCpu / ourAudio;
    const double theirCpuRtf = (theirCpu - theirLoadCpu * runs) / theirAudio;
    std::printf("CPU-time RTF: engine %.4f, continuous %.4f (load %.2f s CPU per run), ratio %.2f\n", ourCpuRtf,
                theirCpuRtf, theirLoadCpu, ourCpuRtf / theirCpuRtf);
    fs::remove_all(folder);
    return 0;
}
