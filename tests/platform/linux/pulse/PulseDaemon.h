#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace zarn::test {

// A PulseAudio daemon of the test's own: private runtime, state and home folders, a native
// socket in the temporary folder, one pipe source (16 kHz mono 16-bit) as the default
// source and a null sink as the default sink. Logs at info level, so a test can see the
// streams it created. Runs as root too (CI), where it only warns.
class PulseDaemon {
public:
    PulseDaemon();
    ~PulseDaemon() { kill(); }
    PulseDaemon(const PulseDaemon&) = delete;
    PulseDaemon& operator=(const PulseDaemon&) = delete;

    void kill();
    bool ready() const { return ready_; }
    std::string log() const { return readFile(dir_ / "daemon.log"); }
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
