#include "platform/linux/x11clipboard/X11Clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "base/Error.h"

namespace zarn::x11 {

X11Clipboard::X11Clipboard(const std::string& displayName)
    : selection_(std::make_unique<X11Selection>(displayName)), serving_([this](int wakeFd) { serve(wakeFd); }) {}

X11Clipboard::~X11Clipboard() = default;

void X11Clipboard::serve(int wakeFd) {
    selection_->dispatchPending();
    if (!selection_->connected()) {
        // Nothing more to serve; keep answering commands so callers never hang.
        pollfd p{wakeFd, POLLIN, 0};
        poll(&p, 1, -1);
    } else {
        pollfd p[2] = {{selection_->fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        poll(p, 2, -1);
    }
}

template <class F>
auto X11Clipboard::call(F fn) -> decltype(fn(std::declval<X11Selection&>())) {
    return serving_.call([this, &fn] { return fn(*selection_); });
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
