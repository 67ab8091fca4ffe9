// IsKeyWatchHeld on any text and key state: no crash or hang, and nothing is held while no key is down.
#include "checkingkeyboard.h"
#include "keys/keysequence.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    keys::fuzzing::CheckingKeyboard keyboard;
    const std::string_view watch(reinterpret_cast<const char*>(data), size);
    if (keys::IsKeyWatchHeld(watch, keyboard.state, keyboard)) std::abort();
    // The first bytes, read as a key state, give the matcher something to find.
    for (size_t i = 0; i < size && i < 32; ++i)
        for (int bit = 0; bit < 8; ++bit)
            keyboard.state.down.set(i * 8 + size_t(bit), (data[i] >> bit) & 1);
    keys::IsKeyWatchHeld(watch, keyboard.state, keyboard);
    keyboard.state.down.set();
    keys::IsKeyWatchHeld(watch, keyboard.state, keyboard);
    return 0;
}
