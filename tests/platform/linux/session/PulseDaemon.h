#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace zarn::test {

class PulseDaemon {
public:
    // A PulseAudio daemon of the test's own: private runtime, state and home folders, a
    // native socket in the temporary folder and one pipe source, 16 kHz mono 16-bit, as the
    // default source. Runs as root too (CI), where it only warns. Ready when a client can
    // connect; ready() is false if the daemon exits or never answers.
    PulseDaemon();
    ~PulseDaemon() { kill(); }
    PulseDaemon(const PulseDaemon&) = delete;
    PulseDaemon& operator=(const PulseDaemon&) = delete;

    void kill();
    bool ready() const { return ready_; }
    std::string log() const;
    std::filesystem::path socket() const { return dir_ / "native"; }
    std::filesystem::path fifo() const { return dir_ / "source.fifo"; }
    std::string server() const { return "unix:" + socket().string(); }

private:
    TempDir temp_;
    std::filesystem::path dir_ = temp_.path();
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace zarn::test
