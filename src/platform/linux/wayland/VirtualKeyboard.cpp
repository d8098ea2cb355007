#include "platform/linux/wayland/VirtualKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>

#include "base/Error.h"
#include "platform/linux/xkbkeys/PasteKeys.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace zarn::wl {

struct VirtualKeyboard::Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* virtualKeyboard = nullptr;
    std::string seatKeymap;  // what the compositor last gave as the active keyboard's keymap
    std::string uploaded;

    ~Connection() {
        if (virtualKeyboard) zwp_virtual_keyboard_v1_destroy(virtualKeyboard);
        if (manager) zwp_virtual_keyboard_manager_v1_destroy(manager);
        if (keyboard) wl_keyboard_destroy(keyboard);
        if (seat) wl_seat_destroy(seat);
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
    }
};

namespace {

using Connection = VirtualKeyboard::Connection;

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* c = static_cast<Connection*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            c->seatKeymap.assign(text, strnlen(text, size));
            munmap(map, size);
        }
    }
    close(fd);
}
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

void onCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    auto* c = static_cast<Connection*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !c->keyboard) {
        c->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(c->keyboard, &keyboardListener, c);
    }
}
void onName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener = {onCapabilities, onName};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* c = static_cast<Connection*>(data);
    std::string_view which(interface);
    if (which == wl_seat_interface.name && !c->seat) {
        c->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 2u)));
        wl_seat_add_listener(c->seat, &seatListener, c);
    } else if (which == zwp_virtual_keyboard_manager_v1_interface.name && !c->manager) {
        c->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

// A seat without a keyboard (a fresh session, a tablet) gives no keymap: the one the XKB
// environment names (XKB_DEFAULT_LAYOUT and its kin) stands in.
std::string defaultKeymap() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return {};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    std::string text;
    if (keymap) {
        char* s = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (s) text = s;
        free(s);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return text;
}

std::optional<xkb::PasteKeys> keysOf(const std::string& keymapText) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return std::nullopt;
    xkb_keymap* keymap =
        xkb_keymap_new_from_string(context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    auto keys = xkb::pasteKeys(keymap);
    if (keymap) xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return keys;
}

bool upload(zwp_virtual_keyboard_v1* keyboard, const std::string& text) {
    int fd = memfd_create("zarn-keymap", MFD_CLOEXEC);
    if (fd < 0) return false;
    // The compositor maps size bytes and expects the text's terminating NUL among them.
    const std::size_t size = text.size() + 1;
    bool written = write(fd, text.c_str(), size) == static_cast<ssize_t>(size);
    if (written) zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    close(fd);
    return written;
}

// Gives the virtual keyboard the seat's current keymap and returns its paste keys. sway drops
// key events that arrive before it has taken in a new keymap, so it is waited for.
std::optional<xkb::PasteKeys> prepare(Connection& c) {
    std::string keymap = c.seatKeymap.empty() ? defaultKeymap() : c.seatKeymap;
    auto keys = keysOf(keymap);
    if (!keys) return std::nullopt;
    if (!c.virtualKeyboard) c.virtualKeyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(c.manager, c.seat);
    if (keymap != c.uploaded) {
        if (!upload(c.virtualKeyboard, keymap) || wl_display_roundtrip(c.display) < 0) return std::nullopt;
        c.uploaded = keymap;
    }
    return keys;
}

}  // namespace

namespace {

std::unique_ptr<Connection> open() {
    auto c = std::make_unique<Connection>();
    c->display = wl_display_connect(nullptr);
    if (!c->display) throw MessageError("cannot connect to the Wayland display");
    c->registry = wl_display_get_registry(c->display);
    wl_registry_add_listener(c->registry, &registryListener, c.get());
    // Globals, then the seat's capabilities, then the keyboard's keymap.
    for (int i = 0; i < 3; ++i) wl_display_roundtrip(c->display);
    return c;
}

std::unique_ptr<Connection> connect() {
    auto c = open();
    if (!c->manager || !c->seat) throw MessageError("the Wayland compositor offers no virtual keyboard");
    // Made now, not at the first paste: a keyboard that appears on a seat that had none has its
    // first key taken as already held by some toolkits (GTK 3).
    prepare(*c);
    return c;
}

}  // namespace

VirtualKeyboard::VirtualKeyboard() : connection_(connect()) {}

std::string seatKeymap() {
    try {
        return open()->seatKeymap;
    } catch (const MessageError&) {
        return {};
    }
}

bool virtualKeyboardOffered() {
    try {
        const auto c = open();
        return c->manager && c->seat;
    } catch (const MessageError&) {
        return false;
    }
}

VirtualKeyboard::~VirtualKeyboard() = default;

bool VirtualKeyboard::postPaste(bool terminal) {
    // Takes in a layout switched since the last paste. Between pastes nobody reads the
    // connection, so a compositor that gave up on it (or restarted) gets a new one.
    if (wl_display_roundtrip(connection_->display) < 0) {
        try {
            connection_ = connect();
        } catch (const MessageError&) {
            return false;
        }
    }
    auto& c = *connection_;
    auto keys = prepare(c);
    if (!keys) return false;
    auto* vk = c.virtualKeyboard;
    auto now = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    // Key codes on the wire are evdev's, 8 below XKB's.
    auto key = [&](uint32_t code, bool down) { zwp_virtual_keyboard_v1_key(vk, now, code - 8, down ? 1 : 0); };
    auto modifiers = [&](uint32_t depressed) { zwp_virtual_keyboard_v1_modifiers(vk, depressed, 0, 0, keys->layout); };
    const uint32_t held = keys->controlMask | (terminal ? keys->shiftMask : 0);
    key(keys->control, true);
    modifiers(keys->controlMask);
    if (terminal) {
        key(keys->shift, true);
        modifiers(held);
    }
    key(keys->v, true);
    key(keys->v, false);
    if (terminal) {
        key(keys->shift, false);
        modifiers(keys->controlMask);
    }
    key(keys->control, false);
    modifiers(0);
    return wl_display_roundtrip(c.display) >= 0;
}

}  // namespace zarn::wl
