// IsKeyWatchHeld on any text and key state: no crash or hang, nothing is held while no key is down, and
// the watch parsed once (KeyWatch) answers as the text does.
#include "checkingkeyboard.h"
#include "keys/keysequence.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    keys::fuzzing::CheckingKeyboard keyboard;
    const std::string_view watch(reinterpret_cast<const char*>(data), size);
    const keys::KeyWatch parsed(watch);
    const auto check = [&] {
        if (parsed.isHeld(keyboard.state, keyboard) != keys::IsKeyWatchHeld(watch, keyboard.state, keyboard))
            std::abort();
    };
    if (keys::IsKeyWatchHeld(watch, keyboard.state, keyboard)) std::abort();
    check();
    // The first bytes, read as a key state, give the matcher something to find.
    for (size_t i = 0; i < size && i < 32; ++i)
        for (int bit = 0; bit < 8; ++bit)
            keyboard.state.down.set(i * 8 + size_t(bit), (data[i] >> bit) & 1);
    check();
    keyboard.state.down.set();
    check();
    return 0;
}
