#pragma once

#include <memory>

#include "inject/Pasteboard.h"
#include "platform/linux/posix/ServingThread.h"
#include "platform/linux/x11clipboard/X11Selection.h"

namespace zarn::x11 {

// The X11 CLIPBOARD selection as a pasteboard. A selection lives in the client that owns
// it, so a thread of its own keeps serving requests while the main thread sleeps; the
// pasteboard calls are synchronous and wait for that thread.
class X11Clipboard final : public inject::Pasteboard {
public:
    // Opens its own connection ("" means $DISPLAY); throws MessageError when it cannot.
    explicit X11Clipboard(const std::string& displayName = {});
    ~X11Clipboard() override;

    // One item with every target the owner offers; nullopt when nobody owns the clipboard.
    std::optional<inject::PasteboardSnapshot> items() override;
    void clearContents() override;
    void setString(const std::string& text) override;
    // X11 has a single item: the items are merged, the first of a target wins.
    void writeItems(const inject::PasteboardSnapshot& items) override;
    std::int64_t changeCount() override;

    bool ownsClipboard();
    // What this process serves right now, with each target's type and format.
    std::vector<SelectionTarget> servedTargets();
    // X11Selection::saveToManager on the clipboard's own thread.
    bool saveToManager(std::chrono::milliseconds timeout);

private:
    template <class F>
    auto call(F fn) -> decltype(fn(std::declval<X11Selection&>()));
    void serve(int wakeFd);

    std::unique_ptr<X11Selection> selection_;
    posix::ServingThread serving_;  // last: stops before the selection goes
};

}  // namespace zarn::x11
