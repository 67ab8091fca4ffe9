#include "keys/openkeyboard.h"

#include "keys/evdev/evdevwatcher.h"
#include "keys/null/nullkeyboard.h"
#include "keys/pairedkeyboard.h"
#include "keys/uinput/uinputkeyboard.h"
#ifdef VORLIX_WITH_X11
#include "keys/x11/x11keyboard.h"
#endif
#ifdef VORLIX_WITH_WAYLAND
#include "keys/wayland/waylandkeyboard.h"
#endif

#include <cstdlib>
#include <cstring>

namespace keys {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Each reason tried, in order, for the message when none served.
void Add(std::string& reasons, const std::string& why) {
    if (why.empty()) return;
    reasons += (reasons.empty() ? "" : "; ") + why;
}

} // namespace

bool IsWaylandSession() {
    if (Set("WAYLAND_DISPLAY")) return true;
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return type && std::strcmp(type, "wayland") == 0;
}

std::unique_ptr<Keyboard> openKeyboard(KeyboardGaps* gaps) {
    std::string noTyping, noWatching, why;
    const bool wayland = IsWaylandSession();

#ifdef VORLIX_WITH_X11
    // On X11 one connection types and watches; XWayland's sees no native window's keys, so it only types.
    std::unique_ptr<X11Keyboard> x11;
    if (Set("DISPLAY")) {
        x11 = X11Keyboard::open(&why);
        Add(noTyping, why);
    }
    if (x11 && !wayland) return x11;
#endif

    std::unique_ptr<Keyboard> sender;
#ifdef VORLIX_WITH_WAYLAND
    if (wayland && Set("WAYLAND_DISPLAY")) {
        why.clear();
        if (auto keyboard = WaylandKeyboard::open(&why))
            sender = std::move(keyboard);
        else
            Add(noTyping, why);
    }
#endif
    if (!sender) {
        why.clear();
        if (auto keyboard = UinputKeyboard::open(&why))
            sender = std::move(keyboard);
        else
            Add(noTyping, why);
    }
#ifdef VORLIX_WITH_X11
    if (!sender && x11) sender = std::move(x11);
#endif
    if (sender) noTyping.clear();
    if (!sender) {
        if (noTyping.empty()) noTyping = "this build has no keyboard back-end for the desktop";
        sender = std::make_unique<NullKeyboard>();
    }

    std::unique_ptr<KeyWatcher> watcher = EvdevWatcher::open(&noWatching);
    if (!watcher) watcher = std::make_unique<NullKeyboard>();
    if (gaps) *gaps = {noTyping, noWatching};
    return std::make_unique<PairedKeyboard>(std::move(sender), std::move(watcher));
}

} // namespace keys
