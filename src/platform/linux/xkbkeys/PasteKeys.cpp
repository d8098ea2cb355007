#include "platform/linux/xkbkeys/PasteKeys.h"

#include <xkbcommon/xkbcommon.h>

namespace zarn::xkb {

namespace {

struct Found {
    xkb_keycode_t key = XKB_KEYCODE_INVALID;
    xkb_layout_index_t layout = 0;
};

// The first key, layout by layout, whose first level gives `wanted`.
Found keyForSymbol(xkb_keymap* keymap, xkb_keysym_t wanted) {
    xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap); ++key) {
            if (layout >= xkb_keymap_num_layouts_for_key(keymap, key)) continue;
            const xkb_keysym_t* syms = nullptr;
            int count = xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &syms);
            for (int i = 0; i < count; ++i) {
                if (syms[i] == wanted) return {key, layout};
            }
        }
    }
    return {};
}

Found keyFor(xkb_keymap* keymap, xkb_keysym_t wanted, const char* fallbackName) {
    Found found = keyForSymbol(keymap, wanted);
    if (found.key == XKB_KEYCODE_INVALID) found.key = xkb_keymap_key_by_name(keymap, fallbackName);
    return found;
}

std::uint32_t maskOf(xkb_keymap* keymap, const char* modifier) {
    xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, modifier);
    return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

}  // namespace

std::optional<PasteKeys> pasteKeys(xkb_keymap* keymap) {
    if (!keymap) return std::nullopt;
    Found v = keyFor(keymap, XKB_KEY_v, "AB04");
    PasteKeys keys{.control = keyFor(keymap, XKB_KEY_Control_L, "LCTL").key,
                   .shift = keyFor(keymap, XKB_KEY_Shift_L, "LFSH").key,
                   .v = v.key,
                   .controlMask = maskOf(keymap, XKB_MOD_NAME_CTRL),
                   .shiftMask = maskOf(keymap, XKB_MOD_NAME_SHIFT),
                   .layout = v.layout};
    for (auto key : {keys.control, keys.shift, keys.v}) {
        if (key == XKB_KEYCODE_INVALID) return std::nullopt;
    }
    if (keys.controlMask == 0 || keys.shiftMask == 0) return std::nullopt;
    return keys;
}

}  // namespace zarn::xkb
