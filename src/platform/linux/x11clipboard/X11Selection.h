#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarn::x11 {

// One conversion target of a selection as its owner serves it: the target name, the type
// and format of the property it arrives in, and the raw bytes (format 16 and 32 data as
// packed 16- and 32-bit units).
struct SelectionTarget {
    std::string target;
    std::string type;
    int format = 8;
    std::string bytes;
    bool operator==(const SelectionTarget&) const = default;
};

// What a read found: nullopt when the selection has no owner; otherwise the targets that
// could be read, in the owner's order (empty when it answered nothing).
using SelectionContent = std::optional<std::vector<SelectionTarget>>;

// One X connection that reads a selection from its owner and owns it to serve targets,
// including incremental (INCR) transfers both ways. Single-threaded: whoever made it
// calls everything, and must call dispatchPending() when fd() is readable.
class X11Selection {
public:
    // Throws MessageError when the display cannot be opened.
    explicit X11Selection(const std::string& displayName, const std::string& selection = "CLIPBOARD");
    ~X11Selection();
    X11Selection(const X11Selection&) = delete;
    X11Selection& operator=(const X11Selection&) = delete;

    int fd() const;
    // False once the connection to the server is lost; everything then does nothing.
    bool connected() const;
    // Handles every event already received: serves requests, notes ownership changes.
    void dispatchPending();
    // Waits up to `timeout` for events and handles them.
    void waitAndDispatch(std::chrono::milliseconds timeout);
    // Round trip to the server, so that every ownership change made before now is noted.
    void sync();

    // Reads every target the current owner offers; our own content when we are the owner.
    SelectionContent read(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Owns the selection and serves `targets`; false when the server refused.
    bool own(std::vector<SelectionTarget> targets);
    bool owns() const;
    // Asks a running clipboard manager to keep what we serve (the freedesktop SAVE_TARGETS
    // convention), serving its requests meanwhile; false when none runs, it refused, or it
    // did not answer within `timeout`.
    bool saveToManager(std::chrono::milliseconds timeout);
    const std::vector<SelectionTarget>& content() const;
    // True while an incremental transfer to some requestor is unfinished.
    bool transferring() const;
    // Grows whenever the selection gets another owner or we set new content.
    std::int64_t changeCount() const;
    // The type and format a target last arrived in, to serve it back the same way.
    std::pair<std::string, int> typeFor(const std::string& target) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The targets that serve `text` as UTF-8 plain text.
std::vector<SelectionTarget> textTargets(const std::string& text);

// Owns the selection with `targets` and serves it from the calling thread until another
// client takes it (and running transfers end) or the display goes away. `onOwned` runs once
// the selection is ours. Returns false when the selection could not be taken.
bool serveUntilTaken(const std::string& displayName, const std::vector<SelectionTarget>& targets,
                     const std::function<void()>& onOwned);

// A byte form of targets, to hand them to another process; decode gives nullopt on
// malformed input.
std::string encodeTargets(const std::vector<SelectionTarget>& targets);
std::optional<std::vector<SelectionTarget>> decodeTargets(std::string_view bytes);

}  // namespace zarn::x11
