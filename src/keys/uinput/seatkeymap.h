#pragma once

#include <string>

struct xkb_context;
struct xkb_keymap;

namespace keys {

// The keymap the Wayland compositor gives its clients' keyboards: the user's own layout, as GNOME or
// KDE set it, which is also the one it reads our uinput keys with. Null where no compositor answers
// (no WAYLAND_DISPLAY, a seat without a keyboard) within about a second; `name` gets the layout's name.
xkb_keymap* SeatKeymap(xkb_context* context, std::string* name);

} // namespace keys
