#pragma once

#include "keys/keyboard.h"

#include <linux/input-event-codes.h>

namespace keys {

// The Linux input devices count keys in kernel codes (KEY_*): a key's X keycode is its kernel code plus 8,
// so XkbLayout's table serves every Linux back-end. Mouse buttons are BTN_* codes of their own.
inline constexpr unsigned kKernelKeycodeOffset = 8;

// The button a mouse-button virtual key stands for (left, right, middle, back, forward); 0 for other codes.
inline unsigned KernelButtonOf(KeyCode code) {
    switch (code) {
    case 0x01:
        return BTN_LEFT;
    case 0x02:
        return BTN_RIGHT;
    case 0x04:
        return BTN_MIDDLE;
    case 0x05:
        return BTN_SIDE;
    case 0x06:
        return BTN_EXTRA;
    default:
        return 0;
    }
}

// The virtual key of a kernel button code; 0 when it is none of the five.
inline KeyCode CodeOfKernelButton(unsigned button) {
    switch (button) {
    case BTN_LEFT:
        return 0x01;
    case BTN_RIGHT:
        return 0x02;
    case BTN_MIDDLE:
        return 0x04;
    case BTN_SIDE:
        return 0x05;
    case BTN_EXTRA:
        return 0x06;
    default:
        return 0;
    }
}

} // namespace keys
