#include "platform/linux/x11clipboard/X11Selection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "base/Error.h"
#include "base/Log.h"
#include "platform/linux/x11/X11Errors.h"

namespace zarn::x11 {

namespace {

using Clock = std::chrono::steady_clock;

// Meta targets describe the conversion itself and are not content.
bool isMetaTarget(const std::string& name) {
    static const std::set<std::string> meta = {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE",
                                               "INSERT_SELECTION", "INSERT_PROPERTY", "_NET_WM_NAME"};
    return meta.count(name) > 0;
}

std::size_t unitSize(int format) {
    return format == 32 ? 4 : format == 16 ? 2 : 1;
}

}  // namespace

struct X11Selection::Impl {
    struct Transfer {
        Window requestor;
        Atom property;
        Atom type;
        int format;
        std::string bytes;
        std::size_t offset = 0;
        bool finished = false;  // the zero-length closing chunk was written
        Clock::time_point lastStep = Clock::now();
    };

    // A requestor that stops deleting the property (it crashed, or gave up) would keep its
    // transfer, and a copy of the data, forever.
    void dropStalledTransfers() {
        auto limit = Clock::now() - std::chrono::seconds(30);
        transfers.erase(std::remove_if(transfers.begin(), transfers.end(),
                                       [&](const Transfer& t) { return t.lastStep < limit; }),
                        transfers.end());
    }

    Display* display = nullptr;
    Window window = 0;
    Atom selection = 0, targetsAtom = 0, timestampAtom = 0, incrAtom = 0, multipleAtom = 0;
    Atom readProperty = 0, timeProperty = 0, atomPairAtom = 0;
    int fixesEventBase = -1;
    bool dead = false;
    bool owned = false;
    Time ownedSince = CurrentTime;
    std::vector<SelectionTarget> content;
    std::int64_t changeCount = 0;
    std::map<std::string, std::pair<std::string, int>> seenTypes;
    std::vector<Transfer> transfers;
    std::size_t chunkSize = 65536;

    Atom atom(const std::string& name) { return XInternAtom(display, name.c_str(), False); }
    std::string atomName(Atom a) {
        if (a == None) return {};
        char* name = XGetAtomName(display, a);
        if (!name) return {};
        std::string result(name);
        XFree(name);
        return result;
    }

    void handle(XEvent& event) {
        switch (event.type) {
            case SelectionRequest:
                serve(event.xselectionrequest);
                break;
            case SelectionClear:
                if (event.xselectionclear.selection == selection && event.xselectionclear.window == window) {
                    if (owned) ++changeCount;
                    owned = false;
                    content.clear();
                }
                break;
            case PropertyNotify:
                if (event.xproperty.state == PropertyDelete) continueTransfer(event.xproperty.window, event.xproperty.atom);
                break;
            default:
                if (fixesEventBase >= 0 && event.type == fixesEventBase + XFixesSelectionNotify) {
                    auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
                    // Only SelectionClear ends our ownership; this may be older than our own().
                    if (notify.selection == selection && notify.owner != window) ++changeCount;
                }
                break;
        }
    }

    void dispatchPending() {
        dropStalledTransfers();
        while (!dead && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            handle(event);
        }
    }

    // Handles events until one satisfies `match` (consumed and copied to `out`) or the deadline.
    template <class Match>
    bool waitFor(Match match, Clock::time_point deadline, XEvent& out) {
        while (!dead) {
            while (XPending(display) > 0) {
                XNextEvent(display, &out);
                if (match(out)) return true;
                handle(out);
            }
            auto now = Clock::now();
            if (now >= deadline) return false;
            pollfd p{ConnectionNumber(display), POLLIN, 0};
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            poll(&p, 1, static_cast<int>(std::max<long long>(1, ms)));
        }
        return false;
    }

    // A server timestamp, from the PropertyNotify that a zero-length append produces.
    Time serverTime() {
        XChangeProperty(display, window, timeProperty, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
        XFlush(display);
        XEvent event;
        bool got = waitFor(
            [&](const XEvent& e) {
                return e.type == PropertyNotify && e.xproperty.window == window && e.xproperty.atom == timeProperty;
            },
            Clock::now() + std::chrono::seconds(2), event);
        return got ? event.xproperty.time : CurrentTime;
    }

    // ---- reading ----

    // Reads and deletes our property; bytes packed by format.
    bool takeProperty(Atom& type, int& format, std::string& bytes) {
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, readProperty, 0, LONG_MAX / 4, True, AnyPropertyType, &type, &format,
                               &count, &after, &data) != Success) {
            return false;
        }
        bytes.clear();
        if (data) {
            if (format == 32) {
                // Xlib hands 32-bit items as longs.
                const long* longs = reinterpret_cast<const long*>(data);
                for (unsigned long i = 0; i < count; ++i) {
                    auto v = static_cast<std::uint32_t>(longs[i]);
                    bytes.append(reinterpret_cast<const char*>(&v), 4);
                }
            } else {
                bytes.assign(reinterpret_cast<const char*>(data), count * unitSize(format));
            }
            XFree(data);
        }
        return type != None;
    }

    // Converts the selection to `target` into our property; false when refused or timed out.
    bool convert(Atom target, Clock::time_point deadline, Atom& type, int& format, std::string& bytes) {
        XDeleteProperty(display, window, readProperty);
        XConvertSelection(display, selection, target, readProperty, window, CurrentTime);
        XFlush(display);
        XEvent event;
        bool got = waitFor(
            [&](const XEvent& e) {
                return e.type == SelectionNotify && e.xselection.requestor == window &&
                       e.xselection.selection == selection && e.xselection.target == target;
            },
            deadline, event);
        if (!got || event.xselection.property == None) return false;
        if (!takeProperty(type, format, bytes)) return false;
        if (type != incrAtom) return true;
        // Incremental: the owner writes chunks as we delete them and ends with an empty one.
        std::string whole;
        Atom chunkType = None;
        int chunkFormat = 8;
        while (true) {
            XEvent notify;
            bool more = waitFor(
                [&](const XEvent& e) {
                    return e.type == PropertyNotify && e.xproperty.window == window &&
                           e.xproperty.atom == readProperty && e.xproperty.state == PropertyNewValue;
                },
                deadline, notify);
            if (!more) return false;
            std::string chunk;
            Atom t = None;
            int f = 8;
            if (!takeProperty(t, f, chunk)) return false;
            XFlush(display);
            if (chunk.empty()) break;
            chunkType = t;
            chunkFormat = f;
            whole += chunk;
        }
        type = chunkType;
        format = chunkFormat;
        bytes = std::move(whole);
        return true;
    }

    SelectionContent read(std::chrono::milliseconds timeout) {
        if (dead) return std::nullopt;
        Window owner = XGetSelectionOwner(display, selection);
        if (owner == None) return std::nullopt;
        if (owner == window && owned) return content;
        auto deadline = Clock::now() + timeout;
        Atom type = None;
        int format = 0;
        std::string bytes;
        std::vector<SelectionTarget> targets;
        if (!convert(targetsAtom, deadline, type, format, bytes) || format != 32) return targets;
        std::vector<Atom> offered;
        for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            std::uint32_t v;
            std::memcpy(&v, bytes.data() + i, 4);
            if (std::find(offered.begin(), offered.end(), Atom(v)) == offered.end()) offered.push_back(Atom(v));
        }
        for (Atom target : offered) {
            std::string name = atomName(target);
            if (name.empty() || isMetaTarget(name)) continue;
            if (Clock::now() >= deadline) break;
            if (!convert(target, deadline, type, format, bytes)) continue;
            SelectionTarget t{name, atomName(type), format, std::move(bytes)};
            seenTypes[t.target] = {t.type, t.format};
            targets.push_back(std::move(t));
        }
        return targets;
    }

    // ---- handing over to the clipboard manager ----

    // The freedesktop convention: convert CLIPBOARD_MANAGER to SAVE_TARGETS with the targets
    // to keep listed in the property, and serve the manager's own conversions until it
    // answers. True once it confirmed.
    bool saveToManager(std::chrono::milliseconds timeout) {
        if (dead || !owned) return false;
        Atom manager = atom("CLIPBOARD_MANAGER");
        if (XGetSelectionOwner(display, manager) == None) return false;
        Atom saveTargets = atom("SAVE_TARGETS");
        Atom property = atom("ZARN_SAVE_TARGETS");
        std::vector<long> atoms;
        for (const auto& t : content) atoms.push_back(static_cast<long>(atom(t.target)));
        XChangeProperty(display, window, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
        XConvertSelection(display, manager, saveTargets, property, window, CurrentTime);
        XFlush(display);
        auto deadline = Clock::now() + timeout;
        XEvent event;
        bool answered = waitFor(
            [&](const XEvent& e) {
                return e.type == SelectionNotify && e.xselection.requestor == window &&
                       e.xselection.selection == manager && e.xselection.target == saveTargets;
            },
            deadline, event);
        // A manager that answers before its incremental reads end still gets the rest.
        while (!dead && !transfers.empty() && Clock::now() < deadline) {
            pollfd p{ConnectionNumber(display), POLLIN, 0};
            if (XPending(display) == 0) poll(&p, 1, 50);
            dispatchPending();
        }
        if (!dead) XDeleteProperty(display, window, property);
        return answered && event.xselection.property != None;
    }

    // ---- owning and serving ----

    bool own(std::vector<SelectionTarget> targets) {
        if (dead) return false;
        Time time = serverTime();
        XSetSelectionOwner(display, selection, window, time);
        bool ok = XGetSelectionOwner(display, selection) == window;
        ++changeCount;
        owned = ok;
        ownedSince = time;
        content = ok ? std::move(targets) : std::vector<SelectionTarget>{};
        XFlush(display);
        return ok;
    }

    const SelectionTarget* find(Atom target) {
        std::string name = atomName(target);
        for (const auto& t : content) {
            if (t.target == name) return &t;
        }
        return nullptr;
    }

    void writeProperty(Window requestor, Atom property, Atom type, int format, const char* data, std::size_t size) {
        std::size_t unit = unitSize(format);
        int items = static_cast<int>(size / unit);
        if (format == 32) {
            std::vector<long> longs(static_cast<std::size_t>(items));
            for (int i = 0; i < items; ++i) {
                std::uint32_t v;
                std::memcpy(&v, data + i * 4, 4);
                longs[static_cast<std::size_t>(i)] = static_cast<long>(v);
            }
            XChangeProperty(display, requestor, property, type, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(longs.data()), items);
        } else {
            XChangeProperty(display, requestor, property, type, format, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(data), items);
        }
    }

    // Answers one target into the requestor's property; false to refuse.
    bool answer(Window requestor, Atom target, Atom property) {
        if (target == targetsAtom) {
            std::vector<long> atoms = {static_cast<long>(targetsAtom), static_cast<long>(timestampAtom)};
            for (const auto& t : content) atoms.push_back(static_cast<long>(atom(t.target)));
            XChangeProperty(display, requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
            return true;
        }
        if (target == timestampAtom) {
            long time = static_cast<long>(ownedSince);
            XChangeProperty(display, requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&time), 1);
            return true;
        }
        const SelectionTarget* found = find(target);
        if (!found) return false;
        Atom type = found->type.empty() ? target : atom(found->type);
        int format = (found->format == 16 || found->format == 32) ? found->format : 8;
        if (found->bytes.size() > chunkSize) {
            // Too large for one request: announce INCR and send chunks as the requestor deletes them.
            transfers.erase(std::remove_if(transfers.begin(), transfers.end(),
                                           [&](const Transfer& t) { return t.requestor == requestor && t.property == property; }),
                            transfers.end());
            XSelectInput(display, requestor, PropertyChangeMask);
            long size = static_cast<long>(found->bytes.size());
            XChangeProperty(display, requestor, property, incrAtom, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&size), 1);
            transfers.push_back(Transfer{requestor, property, type, format, found->bytes});
            return true;
        }
        writeProperty(requestor, property, type, format, found->bytes.data(), found->bytes.size());
        return true;
    }

    void serve(const XSelectionRequestEvent& request) {
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = request.display;
        reply.requestor = request.requestor;
        reply.selection = request.selection;
        reply.target = request.target;
        reply.time = request.time;
        reply.property = None;
        Atom property = request.property == None ? request.target : request.property;  // obsolete clients
        bool ours = request.selection == selection && owned &&
                    (request.time == CurrentTime || ownedSince == CurrentTime || request.time >= ownedSince);
        if (ours && request.target == multipleAtom) {
            ours = answerMultiple(request.requestor, property);
        } else if (ours) {
            ours = answer(request.requestor, request.target, property);
        }
        if (ours) reply.property = property;
        XSendEvent(display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
        XFlush(display);
    }

    // MULTIPLE: the property holds target/property pairs; refused pairs are set to None.
    bool answerMultiple(Window requestor, Atom property) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, requestor, property, 0, LONG_MAX / 4, False, AnyPropertyType, &type, &format,
                               &count, &after, &data) != Success || !data || format != 32) {
            if (data) XFree(data);
            return false;
        }
        std::vector<long> pairs(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
        XFree(data);
        for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
            if (!answer(requestor, static_cast<Atom>(pairs[i]), static_cast<Atom>(pairs[i + 1]))) pairs[i + 1] = None;
        }
        XChangeProperty(display, requestor, property, type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(pairs.data()), static_cast<int>(pairs.size()));
        return true;
    }

    void continueTransfer(Window requestor, Atom property) {
        auto it = std::find_if(transfers.begin(), transfers.end(),
                               [&](const Transfer& t) { return t.requestor == requestor && t.property == property; });
        if (it == transfers.end()) return;
        if (it->finished) {
            transfers.erase(it);
            return;
        }
        std::size_t unit = unitSize(it->format);
        std::size_t size = std::min(chunkSize / unit * unit, it->bytes.size() - it->offset);
        writeProperty(requestor, property, it->type, it->format, it->bytes.data() + it->offset, size);
        it->offset += size;
        it->lastStep = Clock::now();
        if (size == 0) it->finished = true;
        XFlush(display);
    }
};

X11Selection::X11Selection(const std::string& displayName, const std::string& selectionName)
    : impl_(std::make_unique<Impl>()) {
    // Errors on it (a requestor window that vanished mid-transfer) are expected and harmless.
    impl_->display = openConnection(displayName);
    // A lost server must not end the whole program: the connection just stops working.
    XSetIOErrorExitHandler(
        impl_->display, [](Display*, void* self) { static_cast<Impl*>(self)->dead = true; }, impl_.get());
    Display* d = impl_->display;
    impl_->window = XCreateSimpleWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(d, impl_->window, PropertyChangeMask);
    impl_->selection = impl_->atom(selectionName);
    impl_->targetsAtom = impl_->atom("TARGETS");
    impl_->timestampAtom = impl_->atom("TIMESTAMP");
    impl_->incrAtom = impl_->atom("INCR");
    impl_->multipleAtom = impl_->atom("MULTIPLE");
    impl_->atomPairAtom = impl_->atom("ATOM_PAIR");
    impl_->readProperty = impl_->atom("ZARN_SELECTION");
    impl_->timeProperty = impl_->atom("ZARN_TIMESTAMP");
    long maxRequest = XExtendedMaxRequestSize(d);
    if (maxRequest == 0) maxRequest = XMaxRequestSize(d);
    impl_->chunkSize = static_cast<std::size_t>(std::clamp<long>(maxRequest * 4 - 1024, 4096, 256 * 1024));
    int fixesError = 0;
    if (XFixesQueryExtension(d, &impl_->fixesEventBase, &fixesError)) {
        XFixesSelectSelectionInput(d, impl_->window, impl_->selection,
                                   XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    } else {
        impl_->fixesEventBase = -1;
    }
    XFlush(d);
}

X11Selection::~X11Selection() {
    if (!impl_->display) return;
    if (!impl_->dead) {
        XDestroyWindow(impl_->display, impl_->window);
    }
    closeConnection(impl_->display);
}

int X11Selection::fd() const {
    return ConnectionNumber(impl_->display);
}

void X11Selection::dispatchPending() {
    impl_->dispatchPending();
}

void X11Selection::waitAndDispatch(std::chrono::milliseconds timeout) {
    if (impl_->dead) return;
    if (XPending(impl_->display) == 0) {
        pollfd p{fd(), POLLIN, 0};
        poll(&p, 1, static_cast<int>(timeout.count()));
    }
    impl_->dispatchPending();
}

void X11Selection::sync() {
    if (impl_->dead) return;
    XSync(impl_->display, False);
    impl_->dispatchPending();
}

bool X11Selection::saveToManager(std::chrono::milliseconds timeout) {
    return impl_->saveToManager(timeout);
}

SelectionContent X11Selection::read(std::chrono::milliseconds timeout) {
    return impl_->read(timeout);
}

bool X11Selection::own(std::vector<SelectionTarget> targets) {
    return impl_->own(std::move(targets));
}

bool X11Selection::connected() const {
    return !impl_->dead;
}

bool X11Selection::owns() const {
    return impl_->owned;
}

const std::vector<SelectionTarget>& X11Selection::content() const {
    return impl_->content;
}

bool X11Selection::transferring() const {
    return !impl_->transfers.empty();
}

std::int64_t X11Selection::changeCount() const {
    return impl_->changeCount;
}

std::pair<std::string, int> X11Selection::typeFor(const std::string& target) const {
    auto it = impl_->seenTypes.find(target);
    if (it != impl_->seenTypes.end()) return it->second;
    if (target == "TEXT") return {"UTF8_STRING", 8};
    return {target, 8};
}

std::vector<SelectionTarget> textTargets(const std::string& text) {
    std::vector<SelectionTarget> targets = {
        {"UTF8_STRING", "UTF8_STRING", 8, text},
        {"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, text},
        {"text/plain", "text/plain", 8, text},
        {"TEXT", "UTF8_STRING", 8, text},
    };
    // STRING is Latin-1; offer it only when ASCII makes both encodings agree.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        targets.push_back({"STRING", "STRING", 8, text});
    }
    return targets;
}

namespace {

void putField(std::string& out, std::string_view field) {
    auto size = static_cast<std::uint64_t>(field.size());
    out.append(reinterpret_cast<const char*>(&size), sizeof size);
    out.append(field);
}

bool takeField(std::string_view& in, std::string& field) {
    std::uint64_t size = 0;
    if (in.size() < sizeof size) return false;
    std::memcpy(&size, in.data(), sizeof size);
    in.remove_prefix(sizeof size);
    if (in.size() < size) return false;
    field.assign(in.substr(0, size));
    in.remove_prefix(size);
    return true;
}

}  // namespace

std::string encodeTargets(const std::vector<SelectionTarget>& targets) {
    std::string out;
    for (const auto& t : targets) {
        putField(out, t.target);
        putField(out, t.type);
        putField(out, std::to_string(t.format));
        putField(out, t.bytes);
    }
    return out;
}

std::optional<std::vector<SelectionTarget>> decodeTargets(std::string_view bytes) {
    std::vector<SelectionTarget> targets;
    while (!bytes.empty()) {
        SelectionTarget t;
        std::string format;
        if (!takeField(bytes, t.target) || !takeField(bytes, t.type) || !takeField(bytes, format) ||
            !takeField(bytes, t.bytes)) {
            return std::nullopt;
        }
        if (format != "8" && format != "16" && format != "32") return std::nullopt;
        t.format = std::stoi(format);
        if (t.bytes.size() % unitSize(t.format) != 0) return std::nullopt;
        targets.push_back(std::move(t));
    }
    return targets;
}

bool serveUntilTaken(const std::string& displayName, const std::vector<SelectionTarget>& targets,
                     const std::function<void()>& onOwned) {
    X11Selection selection(displayName);
    if (!selection.own(targets)) return false;
    if (onOwned) onOwned();
    // Unfinished transfers get a little longer once the selection has gone elsewhere.
    auto lostAt = Clock::time_point::max();
    while (true) {
        selection.waitAndDispatch(std::chrono::milliseconds(1000));
        if (!selection.connected()) break;
        if (!selection.owns()) {
            if (lostAt == Clock::time_point::max()) lostAt = Clock::now();
            if (!selection.transferring() || Clock::now() - lostAt > std::chrono::seconds(10)) break;
        }
    }
    return true;
}

}  // namespace zarn::x11
