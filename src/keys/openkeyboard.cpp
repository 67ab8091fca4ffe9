#include "keys/openkeyboard.h"

#include "keys/null/nullkeyboard.h"
#ifdef VORLIX_WITH_X11
#include "keys/x11/x11keyboard.h"
#endif

namespace keys {

std::unique_ptr<Keyboard> openKeyboard(std::string* unavailable) {
    std::string why = "this build has no keyboard back-end for the desktop";
#ifdef VORLIX_WITH_X11
    if (auto keyboard = X11Keyboard::open(&why)) return keyboard;
#endif
    if (unavailable) *unavailable = why;
    return std::make_unique<NullKeyboard>();
}

} // namespace keys
