#include "platform/linux/atspi/AtspiAccessibility.h"

#include "inject/KeySynthesizer.h"

#include <atspi/atspi.h>
#include <X11/Xlib.h>
#include <dbus/dbus.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace zarn::atspi {

namespace {

// Objects visited at most while searching the desktop, so a huge tree cannot stall us.
constexpr int kSearchBudget = 5000;

struct Unref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using Ref = std::unique_ptr<T, Unref>;

bool clearError(GError*& error) {
    if (!error) return false;
    g_error_free(error);
    error = nullptr;
    return true;
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    atspi_accessible_clear_cache(object);  // states must be current, not remembered
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

// Our own windows answer on the thread that would be waiting for them, so they are never
// asked; the process id comes from the bus, not from the application.
bool isThisProcess(AtspiAccessible* object) {
    GError* error = nullptr;
    guint pid = atspi_accessible_get_process_id(object, &error);
    if (clearError(error)) return false;
    return static_cast<pid_t>(pid) == getpid();
}

class AtspiElement final : public inject::AccessibleElement {
public:
    explicit AtspiElement(AtspiAccessible* object) : object_(static_cast<AtspiAccessible*>(g_object_ref(object))) {}

    std::optional<bool> isSelectedTextSettable() override {
        Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object_.get()));
        if (!editable) return false;
        return hasState(object_.get(), ATSPI_STATE_EDITABLE);
    }

    std::optional<inject::TextRange> selectedTextRange() override {
        Ref<AtspiText> text(atspi_accessible_get_text_iface(object_.get()));
        if (!text) return std::nullopt;
        GError* error = nullptr;
        gint selections = atspi_text_get_n_selections(text.get(), &error);
        if (clearError(error)) return std::nullopt;
        if (selections > 0) {
            AtspiRange* range = atspi_text_get_selection(text.get(), 0, &error);
            if (clearError(error) || !range) return std::nullopt;
            inject::TextRange result{range->start_offset, range->end_offset - range->start_offset};
            g_free(range);
            if (result.length > 0) return result;
        }
        gint caret = atspi_text_get_caret_offset(text.get(), &error);
        if (clearError(error) || caret < 0) return std::nullopt;
        return inject::TextRange{caret, 0};
    }

    bool setSelectedText(const std::string& value) override {
        auto range = selectedTextRange();
        if (!range) return false;
        Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object_.get()));
        if (!editable) return false;
        GError* error = nullptr;
        if (range->length > 0) {
            atspi_editable_text_delete_text(editable.get(), static_cast<gint>(range->location),
                                            static_cast<gint>(range->location + range->length), &error);
            if (clearError(error)) return false;
        }
        gboolean ok = atspi_editable_text_insert_text(editable.get(), static_cast<gint>(range->location), value.c_str(),
                                                      static_cast<gint>(value.size()), &error);
        if (clearError(error)) return false;
        return ok;
    }

    // A native Wayland terminal has no WM_CLASS to go by: its role or its program's name says it.
    bool isInTerminal() override {
        GError* error = nullptr;
        AtspiRole role = atspi_accessible_get_role(object_.get(), &error);
        if (!clearError(error) && role == ATSPI_ROLE_TERMINAL) return true;
        Ref<AtspiAccessible> application(atspi_accessible_get_application(object_.get(), &error));
        if (clearError(error) || !application) return false;
        gchar* name = atspi_accessible_get_name(application.get(), &error);
        if (clearError(error) || !name) return false;
        bool terminal = inject::isTerminalName(name);
        g_free(name);
        return terminal;
    }

private:
    Ref<AtspiAccessible> object_;
};

// Depth-first search for the focused object below `object`.
AtspiAccessible* findFocused(AtspiAccessible* object, int& budget) {
    if (--budget < 0) return nullptr;
    atspi_accessible_clear_cache(object);
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    if (states && atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
        return static_cast<AtspiAccessible*>(g_object_ref(object));
    }
    // Lists and tables with many rows manage their children; the focus is not inside.
    if (states && atspi_state_set_contains(states.get(), ATSPI_STATE_MANAGES_DESCENDANTS)) return nullptr;
    GError* error = nullptr;
    gint count = atspi_accessible_get_child_count(object, &error);
    if (clearError(error)) return nullptr;
    for (gint i = 0; i < count && budget > 0; ++i) {
        Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(object, i, &error));
        if (clearError(error) || !child) continue;
        if (auto* found = findFocused(child.get(), budget)) return found;
    }
    return nullptr;
}

}  // namespace

struct AtspiAccessibility::State {
    GMainContext* context = nullptr;
    AtspiEventListener* listener = nullptr;
    AtspiAccessible* lastFocused = nullptr;
    bool available = false;

    void pump() {
        if (!context) return;
        while (g_main_context_iteration(context, FALSE)) {
        }
    }

    void setFocused(AtspiAccessible* object) {
        if (object) g_object_ref(object);
        if (lastFocused) g_object_unref(lastFocused);
        lastFocused = object;
    }

    AtspiAccessible* searchDesktop() {
        Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
        if (!desktop) return nullptr;
        int budget = kSearchBudget;
        GError* error = nullptr;
        // Active windows first; a window that is not active keeps no focused object anyway.
        for (bool activeOnly : {true, false}) {
            gint apps = atspi_accessible_get_child_count(desktop.get(), &error);
            if (clearError(error)) return nullptr;
            for (gint a = 0; a < apps; ++a) {
                Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), a, &error));
                if (clearError(error) || !app || isThisProcess(app.get())) continue;
                gint windows = atspi_accessible_get_child_count(app.get(), &error);
                if (clearError(error)) continue;
                for (gint w = 0; w < windows; ++w) {
                    Ref<AtspiAccessible> window(atspi_accessible_get_child_at_index(app.get(), w, &error));
                    if (clearError(error) || !window) continue;
                    if (activeOnly && !hasState(window.get(), ATSPI_STATE_ACTIVE)) continue;
                    if (auto* found = findFocused(window.get(), budget)) return found;
                    if (budget <= 0) return nullptr;
                }
            }
        }
        return nullptr;
    }
};

namespace {

bool connects(const std::string& address) {
    if (address.empty()) return false;
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
    dbus_error_free(&error);
    if (!connection) return false;
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return true;
}

// The address the desktop's root window advertises; it outlives the bus it names when
// that bus dies, so it is only a candidate.
std::string rootWindowAddress() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return {};
    std::string address;
    const Atom property = XInternAtom(display, "AT_SPI_BUS", True);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (property != None &&
        XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1024, False, AnyPropertyType, &type, &format,
                           &items, &after, &data) == Success &&
        data && format == 8) {
        address.assign(reinterpret_cast<const char*>(data), items);
    }
    if (data) XFree(data);
    XCloseDisplay(display);
    return address;
}

// Asks the session bus's accessibility launcher, without starting a session bus of our own.
std::string launcherAddress() {
    const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!session || !*session) return {};
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_connection_open_private(session, &error);
    std::string address;
    if (bus && dbus_bus_register(bus, &error)) {
        DBusMessage* call = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
        DBusMessage* reply = call ? dbus_connection_send_with_reply_and_block(bus, call, 2000, &error) : nullptr;
        const char* text = nullptr;
        if (reply && dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) && text) {
            address = text;
        }
        if (reply) dbus_message_unref(reply);
        if (call) dbus_message_unref(call);
    }
    if (bus) {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
    dbus_error_free(&error);
    return address;
}

// The library aborts the whole process when the accessibility bus it finds cannot be
// reached (no session bus, or a root-window address left by a bus that has died), so the
// address is found and tried here first, and handed to the library when it works.
bool busReachable() {
    if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); address && *address) return connects(address);
    const std::string advertised = rootWindowAddress();
    if (!advertised.empty() && connects(advertised)) return true;
    // The library would take the dead address from the root window: point it at the one the
    // session's launcher gives, if that answers.
    const std::string launched = launcherAddress();
    if (!connects(launched)) return false;
    if (!advertised.empty()) setenv("AT_SPI_BUS_ADDRESS", launched.c_str(), 1);
    return true;
}

// The library keeps one bus connection per process, for the whole process: it is set up
// once, and everything it receives is dispatched on a private context, by pump().
GMainContext* sharedContext(bool& available) {
    static GMainContext* context = nullptr;
    static bool initialized = false;
    static std::once_flag once;
    std::call_once(once, [] {
        if (!busReachable()) return;
        context = g_main_context_new();
        atspi_set_main_context(context);
        initialized = atspi_init() == 0;
    });
    available = initialized;
    return context;
}

}  // namespace

AtspiAccessibility::AtspiAccessibility() : state_(std::make_unique<State>()) {
    state_->context = sharedContext(state_->available);
    if (!state_->available) return;
    state_->listener = atspi_event_listener_new(
        [](AtspiEvent* event, void* data) {
            auto* state = static_cast<State*>(data);
            if (event->source && event->detail1 == 1) state->setFocused(event->source);
            g_boxed_free(ATSPI_TYPE_EVENT, event);
        },
        state_.get(), nullptr);
    GError* error = nullptr;
    atspi_event_listener_register(state_->listener, "object:state-changed:focused", &error);
    clearError(error);
}

AtspiAccessibility::~AtspiAccessibility() {
    if (state_->listener) {
        GError* error = nullptr;
        atspi_event_listener_deregister(state_->listener, "object:state-changed:focused", &error);
        clearError(error);
        g_object_unref(state_->listener);
    }
    state_->setFocused(nullptr);
    state_->pump();
}

bool AtspiAccessibility::available() const {
    return state_->available;
}

std::shared_ptr<inject::AccessibleElement> AtspiAccessibility::focusedElement() {
    if (!state_->available) return nullptr;
    state_->pump();
    if (state_->lastFocused && isThisProcess(state_->lastFocused)) return nullptr;
    if (state_->lastFocused && hasState(state_->lastFocused, ATSPI_STATE_FOCUSED)) {
        return std::make_shared<AtspiElement>(state_->lastFocused);
    }
    Ref<AtspiAccessible> found(state_->searchDesktop());
    if (!found) return nullptr;
    state_->setFocused(found.get());
    return std::make_shared<AtspiElement>(found.get());
}

}  // namespace zarn::atspi
