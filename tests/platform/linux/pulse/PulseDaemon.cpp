#include "platform/linux/pulse/PulseDaemon.h"

#include "platform/linux/pulse/PulseAudioInput.h"

namespace zarn::test {

PulseDaemon::PulseDaemon() {
    const auto dir = temp_.path();
    writeFile(dir / "daemon.pa",
              "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket().string() + "\n" +
                  "load-module module-pipe-source source_name=zarn_test format=s16le rate=16000 channels=1 file=" +
                  fifo().string() + "\n" + "set-default-source zarn_test\n" +
                  "load-module module-null-sink sink_name=zarn_speakers\nset-default-sink zarn_speakers\n");
    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::create_directories(dir / "home");
    ChildProcess::Options options{.cleanEnv = true};
    options.env = {{"HOME", (dir / "home").string()},
                   {"XDG_RUNTIME_DIR", (dir / "runtime").string()},
                   {"XDG_CONFIG_HOME", (dir / "home" / "config").string()},
                   {"PULSE_RUNTIME_PATH", (dir / "runtime" / "pulse").string()},
                   {"PULSE_STATE_PATH", (dir / "state").string()},
                   {"PATH", "/usr/bin:/bin"}};
    try {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
                                     "--use-pid-file=false", "--disallow-module-loading=false", "-F",
                                     (dir / "daemon.pa").string(), "--log-target=stderr", "--log-level=info"},
            std::move(options));
    } catch (const std::exception& e) {
        failure_ = e.what();
        return;
    }
    // Ready when a client can connect.
    ready_ = process_->waitFor([this] { return PulseAudioInput::probe(server()) && std::filesystem::exists(fifo()); },
                               std::chrono::seconds(30));
}

}  // namespace zarn::test
