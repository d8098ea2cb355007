#include "platform/linux/desktop/SessionProbes.h"

#include <X11/Xlib.h>
#include <gio/gio.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/linux/desktop/LinuxPermissions.h"

namespace zarn::desktop {
namespace {

// Without a session bus address GIO would start a bus of its own through the X server.
GDBusConnection* sessionBus() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); !address || !*address) return nullptr;
    return g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
}

// The call's answer, or null when it failed.
GVariant* call(GDBusConnection* bus, const char* destination, const char* path, const char* interface,
               const char* method, GVariant* parameters) {
    return g_dbus_connection_call_sync(bus, destination, path, interface, method, parameters, nullptr,
                                       G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
}

bool hasMember(const std::vector<gid_t>& groups, gid_t group) {
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

}  // namespace

doctor::DisplayFacts probeDisplay(const EnvironmentLookup& environment) {
    doctor::DisplayFacts facts;
    facts.x11Display = environment("DISPLAY").value_or("");
    facts.waylandDisplay = environment("WAYLAND_DISPLAY").value_or("");
    if (facts.waylandDisplay.empty() && environment("XDG_SESSION_TYPE").value_or("") == "wayland") {
        facts.waylandDisplay = "wayland";
    }
    if (facts.x11Display.empty()) return facts;
    if (Display* display = XOpenDisplay(facts.x11Display.c_str())) {
        facts.x11Answers = true;
        int opcode = 0, event = 0, error = 0;
        facts.xtest = XQueryExtension(display, "XTEST", &opcode, &event, &error) != 0;
        XCloseDisplay(display);
    }
    return facts;
}

doctor::GroupMembership inputGroupMembership() {
    const group* input = getgrnam("input");
    if (!input) return doctor::GroupMembership::noGroup;
    const gid_t gid = input->gr_gid;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    if (getegid() == gid || hasMember(groups, gid)) return doctor::GroupMembership::active;
    // The group database may already list the user while this session still runs with the old groups.
    const passwd* user = getpwuid(getuid());
    if (!user) return doctor::GroupMembership::notMember;
    int count = 64;
    std::vector<gid_t> listed(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, listed.data(), &count) < 0) {
        listed.resize(static_cast<std::size_t>(count));
        getgrouplist(user->pw_name, user->pw_gid, listed.data(), &count);
    }
    listed.resize(static_cast<std::size_t>(std::max(count, 0)));
    return hasMember(listed, gid) ? doctor::GroupMembership::notYetActive : doctor::GroupMembership::notMember;
}

doctor::KeyFacts probeKeys(HotkeyBackend backend, const std::string& inputFolder, const std::string& uinputDevice) {
    doctor::KeyFacts facts;
    facts.evdev = backend == HotkeyBackend::evdev;
    facts.inputGroup = inputGroupMembership();
    facts.eventDeviceReadable = LinuxPermissions::keyboardsReadable(inputFolder);
    facts.uinputWritable = LinuxPermissions::uinputWritable(uinputDevice);
    return facts;
}

doctor::AccessibilityFacts probeAccessibilityBus() {
    doctor::AccessibilityFacts facts;
    GDBusConnection* bus = sessionBus();
    if (!bus) return facts;
    facts.sessionBus = true;
    if (GVariant* answer = call(bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
                                g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"))) {
        facts.busReachable = true;
        GVariant* value = nullptr;
        g_variant_get(answer, "(v)", &value);
        facts.enabled = value && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        if (value) g_variant_unref(value);
        g_variant_unref(answer);
    }
    g_object_unref(bus);
    return facts;
}

doctor::TrayFacts probeTray() {
    doctor::TrayFacts facts;
    if (GDBusConnection* bus = sessionBus()) {
        if (GVariant* answer = call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"))) {
            gboolean owned = FALSE;
            g_variant_get(answer, "(b)", &owned);
            facts.statusNotifierWatcher = owned;
            g_variant_unref(answer);
        }
        g_object_unref(bus);
    }
    if (Display* display = XOpenDisplay(nullptr)) {
        const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
        facts.xembedTray = XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False)) != None;
        XCloseDisplay(display);
    }
    return facts;
}

}  // namespace zarn::desktop
