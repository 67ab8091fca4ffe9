#pragma once

#include "keys/xkb/xkblayout.h"

#include <xkbcommon/xkbcommon.h>

namespace keys {

// The layout a keyboard of the given XKB name ("us", "fr", "de") has on a pc105, compiled from the
// system's own XKB data; an empty layout when the name is unknown.
inline XkbLayout NamedLayout(const char* name) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    const xkb_rule_names names{"evdev", "pc105", name, "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    XkbLayout layout = keymap ? XkbLayout(keymap, 0) : XkbLayout();
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return layout;
}

} // namespace keys
