#include "platform/linux/session/SwaySession.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/TempDir.h"

namespace zarn::test {

namespace {

constexpr uid_t nobody = 65534;

}  // namespace

std::string SwaySession::missingTool() {
    for (const char* tool : {"sway", "swaymsg", "Xwayland", "xhost", "setpriv", "wl-copy", "wl-paste"}) {
        if (!installed(tool)) return tool;
    }
    return {};
}

SwaySession::SwaySession() {
    // Outside any root-only temporary folder: sway's user must reach it.
    char pattern[] = "/tmp/zarn-sway-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make the runtime folder");
    runtime_ = pattern;
    const bool asRoot = geteuid() == 0;
    // XWayland starts with its first client: that client lets root in, then names the display.
    writeFile(runtime_ / "config",
              "xwayland enable\noutput HEADLESS-1 resolution 1024x768\n"
              "exec sh -c 'xhost +si:localuser:root && echo $DISPLAY > " + (runtime_ / "display.part").string() +
                  " && mv " + (runtime_ / "display.part").string() + " " + (runtime_ / "display").string() + "'\n");
    if (asRoot) {
        for (const auto& path : {runtime_, runtime_ / "config"}) {
            if (chown(path.c_str(), nobody, nobody) != 0) throw std::runtime_error("cannot hand the runtime folder over");
        }
    }
    chmod(runtime_.c_str(), 0700);
    env_.set("XDG_RUNTIME_DIR", runtime_.c_str());
    env_.set("WLR_BACKENDS", "headless");
    env_.set("WLR_RENDERER", "pixman");
    env_.set("WLR_LIBINPUT_NO_DEVICES", "1");
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK"}) env_.set(name, nullptr);
    std::vector<std::string> argv = {"sway", "-c", (runtime_ / "config").string()};
    if (asRoot) argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    sway_ = std::make_unique<ChildProcess>(argv, true);
    if (!sway_->waitFor([this] { return std::filesystem::exists(runtime_ / "wayland-1"); }, std::chrono::seconds(20))) {
        throw std::runtime_error("sway did not start");
    }
    env_.set("WAYLAND_DISPLAY", "wayland-1");
    std::filesystem::path socket;
    sway_->waitFor(
        [&] {
            for (const auto& entry : std::filesystem::directory_iterator(runtime_)) {
                if (entry.path().filename().string().starts_with("sway-ipc.")) socket = entry.path();
            }
            return !socket.empty();
        },
        std::chrono::seconds(20));
    if (socket.empty()) throw std::runtime_error("sway has no IPC socket");
    env_.set("SWAYSOCK", socket.c_str());
    if (!sway_->waitFor([this] { return std::filesystem::exists(runtime_ / "display"); }, std::chrono::seconds(30))) {
        throw std::runtime_error("XWayland did not start");
    }
    std::string display = readFile(runtime_ / "display");
    while (!display.empty() && display.back() == '\n') display.pop_back();
    env_.set("DISPLAY", display.c_str());
}

SwaySession::~SwaySession() {
    sway_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(runtime_, ignored);
}

bool SwaySession::command(const std::string& command) { return runCommand({"swaymsg", command}); }

std::string SwaySession::clipboard() {
    std::string out;
    runCommand({"wl-paste"}, &out);  // text ending in one newline it adds
    return out.empty() ? out : out.substr(0, out.size() - 1);
}

}  // namespace zarn::test
