#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "hotkey/EventHook.h"

namespace zarn::keyhook {

// What reaches a key hook's thread from outside: the main executor's verdicts and the stop
// request, each followed by a byte on a wake pipe the thread polls with its input.
class HookChannel : public std::enable_shared_from_this<HookChannel> {
public:
    using Verdicts = std::deque<std::pair<std::uint64_t, bool>>;

    // Nothing, with the reason in `failure`, when the wake pipe cannot be made.
    static std::shared_ptr<HookChannel> make(std::string& failure);
    ~HookChannel();
    HookChannel(const HookChannel&) = delete;
    HookChannel& operator=(const HookChannel&) = delete;

    // Readable when something arrived; poll it beside the hook's input.
    int wakeFd() const { return wake_[0]; }
    // Hook thread, after each wait: empties the wake pipe and answers the verdicts that
    // arrived, or nothing once the hook is to stop.
    std::optional<Verdicts> take();

    // The verdict callback for event `id`; it holds the channel weakly, so a late verdict
    // finds nothing to do.
    hotkey::Verdict verdictFor(std::uint64_t id);
    void requestStop();

private:
    HookChannel() = default;
    void poke();

    std::array<int, 2> wake_{-1, -1};
    std::mutex mutex_;
    bool stopRequested_ = false;
    Verdicts verdicts_;
};

// A key hook's reading thread: `run` returns why the hook stopped on its own (then passed to
// `died`) or nothing when it was asked to stop.
class HookThread {
public:
    HookThread() = default;
    ~HookThread() { stop(); }
    HookThread(const HookThread&) = delete;
    HookThread& operator=(const HookThread&) = delete;

    void start(std::shared_ptr<HookChannel> channel, std::function<std::optional<std::string>()> run,
               std::function<void(const std::string& reason)> died);
    // Asks the thread to stop, wakes it and waits for it; nothing to do when none runs.
    void stop();

private:
    std::shared_ptr<HookChannel> channel_;
    std::thread thread_;
};

}  // namespace zarn::keyhook
