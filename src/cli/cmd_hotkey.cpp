#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/EventLoop.h"
#include "cli/Command.h"
#include "contracts/PushToTalkKey.h"
#include "platform/linux/hotkeybackend/HotkeyBackend.h"
#include "settings/Settings.h"

namespace zarn::cli {
namespace {

// Turns Ctrl-C (and a termination request) into a quit of the event loop, so the monitor
// is stopped normally and a grabbed keyboard is always let go.
class InterruptWatcher {
public:
    explicit InterruptWatcher(EventLoop& loop) {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        // Blocked here before any other thread exists, so every thread inherits the mask and
        // only the watcher takes the signals.
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        thread_ = std::thread([this, &loop] {
            timespec tick{0, 100'000'000};
            while (!done_.load()) {
                if (sigtimedwait(&signals_, nullptr, &tick) > 0) {
                    interrupted_.store(true);
                    loop.quit();
                    return;
                }
            }
        });
    }
    ~InterruptWatcher() {
        done_.store(true);
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    bool interrupted() const { return interrupted_.load(); }

private:
    sigset_t signals_{};
    sigset_t previous_{};
    std::atomic<bool> done_{false};
    std::atomic<bool> interrupted_{false};
    std::thread thread_;
};

struct Options {
    std::string key, count;
    const CLI::Option* countGiven = nullptr;
};

int runHotkey(const Options& options, CommandContext& context) {
    std::optional<PushToTalkKey> chosen;
    if (!options.key.empty()) {
        chosen = pushToTalkKey::fromRawValue(options.key);
        if (!chosen) throw UsageError("unknown key '" + options.key + "' (expected rightOption, fn or rightCommand)");
    }
    long long count = 0;  // 0: until interrupted
    if (options.countGiven->count() > 0) {
        const std::string& value = options.count;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
        if (error != std::errc() || end != value.data() + value.size() || count <= 0) {
            throw UsageError("--count needs a positive whole number, not '" + value + "'");
        }
    }
    const PushToTalkKey key = chosen.value_or(Settings::shared().pushToTalkKey());

    EventLoop loop;
    InterruptWatcher interrupts(loop);
    const HotkeyBackend backend = chooseHotkeyBackend();
    HotkeyMonitor monitor(loop, makeEventHook(backend));
    long long edges = 0;
    auto report = [&](const char* edge) {
        context.out << edge << "\n" << std::flush;
        if (count > 0 && ++edges >= count) loop.quit();
    };
    monitor.setKey(key);
    monitor.setOnPress([&] { report("press"); });
    monitor.setOnRelease([&] { report("release"); });
    bool died = false;
    monitor.setOnFailure([&] {
        died = true;
        loop.quit();
    });
    const std::string name(pushToTalkKey::keyName(key));
    const std::string via = " (" + std::string(backendName(backend)) + " backend)";
    if (!monitor.start()) {
        const bool denied = monitor.failure().rfind("no permission", 0) == 0;
        context.err << "zarn hotkey: cannot watch " + name + via + ": " + monitor.failure() +
                           (denied ? " (reading /dev/input needs membership of the 'input' group)" : "") + "\n";
        return 1;
    }
    // One write, so that a reader never sees half of the line.
    context.err << "Listening for " + name + via + "; press Ctrl-C to stop.\n" << std::flush;
    loop.run();
    monitor.stop();
    if (died) {
        context.err << "zarn hotkey: stopped watching " + name + ": " + monitor.failure() + "\n";
        return 1;
    }
    return 0;
}

Registration reg{{"hotkey", "Try the push-to-talk key.", [](CLI::App& app) {
    Command test{"test",
                 "Watch the push-to-talk key (by default the one in the settings) and print \"press\" and \"release\" "
                 "as it goes down and up, until Ctrl-C.",
                 [](CLI::App& sub) {
                     auto o = std::make_shared<Options>();
                     sub.add_option("--key", o->key, "The key to watch instead of the one in the settings.")
                         ->type_name("rightOption|fn|rightCommand");
                     o->countGiven = sub.add_option("--count", o->count, "Stop after N presses and releases.")
                                         ->type_name("N");
                     return Runner([o](CommandContext& context) { return runHotkey(*o, context); });
                 }};
    return declareSubcommands(app, {test});
}}};

}  // namespace
}  // namespace zarn::cli
