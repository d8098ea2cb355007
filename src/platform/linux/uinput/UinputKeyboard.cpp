#include "platform/linux/uinput/UinputKeyboard.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstring>

#include "base/Error.h"

namespace zarn::uinput {

std::optional<xkb::PasteKeys> pasteKeysOfText(const std::string& keymapText) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return std::nullopt;
    // No text: the keymap the XKB environment names (XKB_DEFAULT_LAYOUT and its kin).
    xkb_keymap* keymap = keymapText.empty()
                             ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS)
                             : xkb_keymap_new_from_string(context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                          XKB_KEYMAP_COMPILE_NO_FLAGS);
    auto keys = xkb::pasteKeys(keymap);
    if (keymap) xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return keys;
}

bool writePaste(int fd, const xkb::PasteKeys& keys, bool terminal) {
    auto send = [fd](std::uint16_t type, std::uint16_t code, std::int32_t value) {
        input_event event{};
        event.type = type;
        event.code = code;
        event.value = value;
        return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
    };
    // Evdev codes are 8 below XKB's.
    auto key = [&](std::uint32_t xkbCode, bool down) {
        return send(EV_KEY, static_cast<std::uint16_t>(xkbCode - 8), down ? 1 : 0) && send(EV_SYN, SYN_REPORT, 0);
    };
    bool ok = key(keys.control, true) && (!terminal || key(keys.shift, true)) && key(keys.v, true) && key(keys.v, false);
    // Whatever went wrong, nothing is left held down.
    if (terminal) ok = key(keys.shift, false) && ok;
    return key(keys.control, false) && ok;
}

UinputKeyboard::UinputKeyboard(std::function<std::string()> keymap, const std::string& device)
    : keymap_(std::move(keymap)) {
    fd_ = open(device.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw MessageError("cannot open " + device + ": " + std::strerror(errno));
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, "Zarn paste keyboard", UINPUT_MAX_NAME_SIZE - 1);
    // Every key of a keyboard: which one types "v" depends on the user's layout.
    bool ok = ioctl(fd_, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd_, UI_SET_EVBIT, EV_SYN) == 0;
    for (int code = KEY_ESC; ok && code <= KEY_MICMUTE; ++code) ok = ioctl(fd_, UI_SET_KEYBIT, code) == 0;
    ok = ok && ioctl(fd_, UI_DEV_SETUP, &setup) == 0 && ioctl(fd_, UI_DEV_CREATE) == 0;
    if (!ok) {
        std::string reason = std::strerror(errno);
        close(fd_);
        throw MessageError("cannot make a keyboard through " + device + ": " + reason);
    }
}

UinputKeyboard::~UinputKeyboard() {
    ioctl(fd_, UI_DEV_DESTROY);
    close(fd_);
}

bool UinputKeyboard::postPaste(bool terminal) {
    auto keys = pasteKeysOfText(keymap_());
    return keys && writePaste(fd_, *keys, terminal);
}

}  // namespace zarn::uinput
