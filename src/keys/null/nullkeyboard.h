#pragma once

#include "keys/keyboard.h"

namespace keys {

// The keyboard of a desktop that offers none to us: nothing is typed and no key is ever down.
class NullKeyboard final : public Keyboard {
public:
    void press(KeyCode) override {}
    void release(KeyCode) override {}
    void flush() override {}
    KeyState snapshot() override { return {}; }
    KeyCode keyCodeOfChar(char32_t) override { return kNoKey; }
};

} // namespace keys
