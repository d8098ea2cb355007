#include "platform/linux/session/DesktopSession.h"

#include <X11/Xlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace zarn::test {

namespace {

bool displayAccepts(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";

}  // namespace

std::string DesktopSession::missingTool(bool accessibility) {
    std::vector<std::string> tools = {"Xvfb"};
    if (accessibility) tools.insert(tools.end(), {"dbus-daemon", "dbus-send", kBusLauncher});
    for (const auto& tool : tools) {
        if (!installed(tool)) return tool;
    }
    return {};
}

DesktopSession::DesktopSession(bool accessibility) {
    const auto runtime = home_.root() / "runtime";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    env_.set("XDG_RUNTIME_DIR", runtime.c_str());
    // Nothing of the caller's desktop may leak in.
    for (const char* name : {"AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY"}) env_.set(name, nullptr);
    xvfb_ = std::make_unique<XvfbServer>();
    if (!xvfb_->isRunning()) throw std::runtime_error(xvfb_->failure());
    env_.set("DISPLAY", display().c_str());
    if (!accessibility) return;

    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, true);
    auto address = bus_->readLine(std::chrono::seconds(20));
    if (!address || address->empty()) throw std::runtime_error("dbus-daemon did not start");
    env_.set("DBUS_SESSION_BUS_ADDRESS", address->c_str());

    atspiBus_ = std::make_unique<ChildProcess>(std::vector<std::string>{kBusLauncher, "--launch-immediately", "--a11y=1"}, false);
    const auto busCall = [](const std::string& bus, const std::string& dest, const std::string& path,
                            const std::string& method, const std::string& arg = {}) {
        std::vector<std::string> argv = {"dbus-send", bus, "--print-reply", "--dest=" + dest, path, method};
        if (!arg.empty()) argv.push_back(arg);
        return ChildProcess::run(argv, {.err = ChildProcess::Stream::inherit});
    };
    const bool named = atspiBus_->waitFor(
        [&] {
            return busCall("--session", "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                           "string:org.a11y.Bus")
                       .out.find("boolean true") != std::string::npos;
        },
        std::chrono::seconds(20));
    if (!named) throw std::runtime_error("the accessibility bus did not start");
    const std::string reply = busCall("--session", "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress").out;
    auto open = reply.find('"'), close = reply.rfind('"');
    if (open == std::string::npos || close <= open) throw std::runtime_error("the accessibility bus has no address");
    const std::string a11yBus = "--bus=" + reply.substr(open + 1, close - open - 1);
    // Pinging the registry starts it by bus activation and returns once it answers; should
    // its start fail, the next ping activates it again.
    bool registry = false;
    for (int attempt = 0; attempt < 5 && !registry; ++attempt) {
        registry = busCall(a11yBus, "org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                           "org.freedesktop.DBus.Peer.Ping")
                       .status == 0;
    }
    if (!registry) {
        throw std::runtime_error("the accessibility registry did not start (display " + display() +
                                 (displayAccepts(display()) ? " accepts connections)" : " refuses connections)"));
    }
    env_.set("QT_ACCESSIBILITY", "1");
    env_.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env_.set("QT_QPA_PLATFORM", "xcb");
}

}  // namespace zarn::test
