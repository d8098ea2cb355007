#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace zarn::test {

// A PulseAudio daemon of the test's own: private runtime, state and home folders, a native
// socket in the temporary folder, one pipe source (16 kHz mono 16-bit) as the default
// source and a null sink as the default sink. Logs at info level, so a test can see the
// streams it created. Runs as root too (CI), where it only warns.
class PulseDaemon {
public:
    PulseDaemon();

    void kill() { process_.reset(); }
    bool ready() const { return ready_; }
    std::string log() const { return process_ ? process_->err() : failure_; }
    std::filesystem::path socket() const { return temp_ / "native"; }
    std::filesystem::path fifo() const { return temp_ / "source.fifo"; }
    std::string server() const { return "unix:" + socket().string(); }

private:
    TempDir temp_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
    std::string failure_;
};

}  // namespace zarn::test
