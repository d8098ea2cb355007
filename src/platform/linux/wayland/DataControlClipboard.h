#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "inject/Pasteboard.h"
#include "platform/linux/posix/ServingThread.h"

namespace zarn::wl {

// The Wayland clipboard through wlroots' data-control protocol (sway, KDE), which reads and
// sets the selection without a focused surface. XWayland's clipboard bridge is no substitute:
// sway passes an X11 client's selection on to Wayland only while an X11 window has the
// focus. What this process offers is served from a thread of its own; the pasteboard calls
// are synchronous and wait for it.
class DataControlClipboard final : public inject::Pasteboard {
public:
    // Connects to $WAYLAND_DISPLAY; throws MessageError when there is none or the compositor
    // lacks the protocol.
    DataControlClipboard();
    ~DataControlClipboard() override;
    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    std::optional<inject::PasteboardSnapshot> items() override;
    void clearContents() override;
    void setString(const std::string& text) override;
    // Wayland has a single item: the items are merged, the first of a type wins.
    void writeItems(const inject::PasteboardSnapshot& items) override;
    std::int64_t changeCount() override;

    // What this process offers dies with it: at exit, a forked copy of the connection keeps
    // serving it until another client copies. Stops this object's serving; true when nothing
    // of ours was on the clipboard or the copy runs.
    bool handOver();

    struct State;

private:
    void call(const std::function<void()>& command);
    void serve(int wakeFd);

    std::unique_ptr<State> state_;
    std::optional<posix::ServingThread> serving_;  // made once the connection is set up
};

}  // namespace zarn::wl
