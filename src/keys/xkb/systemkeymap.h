#pragma once

#include <string>

struct xkb_context;
struct xkb_keymap;

namespace keys {

// The XKB names of the layout the machine types with when no display server tells us: each of the
// XKB_DEFAULT_* variables that is set, else Debian's keyboard configuration (`defaultsFile`, read as
// the console and the desktop's first start read it), else libxkbcommon's own default (us).
struct KeymapNames {
    std::string model, layout, variant, options;
};
KeymapNames SystemKeymapNames(const char* defaultsFile = "/etc/default/keyboard");

// That keymap compiled; null when it does not compile (an unknown layout name), with the reason in `why`.
xkb_keymap* SystemKeymap(xkb_context* context, const KeymapNames& names, std::string* why = nullptr);

} // namespace keys
