#include "platform/linux/x11clipboard/X11Clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "base/Error.h"

namespace zarn::x11 {

X11Clipboard::X11Clipboard(const std::string& displayName)
    : selection_(std::make_unique<X11Selection>(displayName)) {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw MessageError("cannot create a pipe");
    thread_ = std::thread([this] { run(); });
}

X11Clipboard::~X11Clipboard() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    [[maybe_unused]] auto n = write(wake_[1], "x", 1);
    thread_.join();
    close(wake_[0]);
    close(wake_[1]);
}

void X11Clipboard::run() {
    while (true) {
        std::deque<std::function<void()>> commands;
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
            commands.swap(commands_);
        }
        for (auto& command : commands) command();
        selection_->dispatchPending();
        if (!selection_->connected()) {
            // Nothing more to serve; keep answering commands so callers never hang.
            pollfd p{wake_[0], POLLIN, 0};
            poll(&p, 1, -1);
        } else {
            pollfd p[2] = {{selection_->fd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
            poll(p, 2, -1);
        }
        char buffer[64];
        while (read(wake_[0], buffer, sizeof buffer) > 0) {
        }
    }
}

template <class F>
auto X11Clipboard::call(F fn) -> decltype(fn(std::declval<X11Selection&>())) {
    using R = decltype(fn(std::declval<X11Selection&>()));
    std::packaged_task<R()> task([this, &fn] { return fn(*selection_); });
    auto result = task.get_future();
    {
        std::lock_guard lock(mutex_);
        commands_.push_back([&task] { task(); });
    }
    [[maybe_unused]] auto n = write(wake_[1], "x", 1);
    return result.get();
}

std::optional<inject::PasteboardSnapshot> X11Clipboard::items() {
    auto [content, ours] = call([](X11Selection& s) {
        auto read = s.read();
        return std::make_pair(std::move(read), s.owns());
    });
    if (!content) return std::nullopt;
    inject::PasteboardItem item;
    for (auto& t : *content) item.push_back({t.target, std::move(t.bytes)});
    // Our own cleared clipboard has no item; another owner that answered nothing still has
    // one, like any pasteboard item without readable data.
    if (item.empty() && ours) return inject::PasteboardSnapshot{};
    return inject::PasteboardSnapshot{std::move(item)};
}

void X11Clipboard::clearContents() {
    call([](X11Selection& s) { return s.own({}); });
}

void X11Clipboard::setString(const std::string& text) {
    call([&](X11Selection& s) { return s.own(textTargets(text)); });
}

void X11Clipboard::writeItems(const inject::PasteboardSnapshot& items) {
    call([&](X11Selection& s) {
        std::vector<SelectionTarget> targets;
        for (const auto& item : items) {
            for (const auto& data : item) {
                bool seen = false;
                for (const auto& t : targets) seen = seen || t.target == data.type;
                if (seen) continue;
                auto [type, format] = s.typeFor(data.type);
                targets.push_back({data.type, type, format, data.bytes});
            }
        }
        return s.own(std::move(targets));
    });
}

std::int64_t X11Clipboard::changeCount() {
    return call([](X11Selection& s) {
        s.sync();
        return s.changeCount();
    });
}

bool X11Clipboard::ownsClipboard() {
    return call([](X11Selection& s) {
        s.sync();
        return s.owns();
    });
}

std::vector<SelectionTarget> X11Clipboard::servedTargets() {
    return call([](X11Selection& s) { return s.owns() ? s.content() : std::vector<SelectionTarget>{}; });
}

bool X11Clipboard::saveToManager(std::chrono::milliseconds timeout) {
    return call([timeout](X11Selection& s) {
        s.sync();
        return s.saveToManager(timeout);
    });
}

}  // namespace zarn::x11
