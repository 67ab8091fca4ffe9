#pragma once

#include "keys/keyboard.h"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

struct xkb_keymap;

namespace keys {

// How virtual-key codes meet the XKB keycodes of one keymap and layout (group). Needs only libxkbcommon,
// so any desktop with an XKB keymap (X11, Wayland, evdev) can share it.
// Keys sit at their US position, as X keycodes follow the physical key; letters follow the layout's
// letters and "+", ",", "-", "." follow their characters, as Windows assigns those codes.
class XkbLayout {
public:
    XkbLayout() = default;
    XkbLayout(xkb_keymap* keymap, std::uint32_t layout);

    // The X keycode of a virtual key, 0 when it has none.
    unsigned keycodeOf(KeyCode code) const { return keycodeOf_[code]; }

    // The virtual key that types `ch`, shift level dropped; kNoKey when no key does.
    KeyCode codeOfChar(char32_t ch) const;

    // Keycodes with no symbol at all: free to lend to a character that no key types.
    const std::vector<unsigned>& spareKeycodes() const { return spare_; }

    // (virtual key, X keycode) pairs to read a key state bitmap; a virtual key may have several keycodes.
    const std::vector<std::pair<KeyCode, std::uint8_t>>& stateKeys() const { return stateKeys_; }

private:
    std::array<std::uint8_t, 256> keycodeOf_{};
    std::unordered_map<std::uint32_t, KeyCode> codeOfKeysym_;
    std::vector<unsigned> spare_;
    std::vector<std::pair<KeyCode, std::uint8_t>> stateKeys_;
};

} // namespace keys
