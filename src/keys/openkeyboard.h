#pragma once

#include "keys/keyboard.h"

#include <memory>
#include <string>

namespace keys {

// Why the keyboard chosen cannot type or cannot watch; empty where it can.
struct KeyboardGaps {
    std::string noTyping;
    std::string noWatching;
};

// Whether the agent runs in a Wayland session: WAYLAND_DISPLAY, else XDG_SESSION_TYPE.
bool IsWaylandSession();

// The keyboard of the desktop the agent runs on: a sender and a watcher, each the first back-end built
// in that opens, in the order the session calls for. On Wayland: the compositor's virtual keyboard,
// then /dev/uinput, then XWayland to type; the input devices to watch. On X11: X11 for both, then
// /dev/uinput and the input devices. Never null: what is missing is the null keyboard's half, and
// `gaps` says why.
std::unique_ptr<Keyboard> openKeyboard(KeyboardGaps* gaps);

} // namespace keys
