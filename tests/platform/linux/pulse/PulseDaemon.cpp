#include "platform/linux/pulse/PulseDaemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/linux/pulse/PulseAudioInput.h"

namespace zarn::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

PulseDaemon::PulseDaemon() {
    fs::create_directories(dir_ / "runtime");
    fs::create_directories(dir_ / "home");
    writeFile(dir_ / "daemon.pa",
              "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket().string() + "\n" +
                  "load-module module-pipe-source source_name=zarn_test format=s16le rate=16000 channels=1 file=" +
                  fifo().string() + "\n" + "set-default-source zarn_test\n" +
                  "load-module module-null-sink sink_name=zarn_speakers\nset-default-sink zarn_speakers\n");
    std::vector<std::string> env = {
        "HOME=" + (dir_ / "home").string(),
        "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
        "XDG_CONFIG_HOME=" + (dir_ / "home" / "config").string(),
        "PULSE_RUNTIME_PATH=" + (dir_ / "runtime" / "pulse").string(),
        "PULSE_STATE_PATH=" + (dir_ / "state").string(),
        "PATH=/usr/bin:/bin",
    };
    std::vector<std::string> args = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--system=false", "--use-pid-file=false", "--disallow-module-loading=false",
                                     "-F", (dir_ / "daemon.pa").string(), "--log-target=stderr", "--log-level=info"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logPath = (dir_ / "daemon.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    // Ready when a client can connect; gives up if the daemon exits or never answers.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        if (PulseAudioInput::probe(server()) && fs::exists(fifo())) {
            ready_ = true;
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

void PulseDaemon::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace zarn::test
