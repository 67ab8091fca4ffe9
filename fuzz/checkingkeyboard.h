#pragma once

#include "keys/uskeyboard.h"

#include <array>
#include <cstdlib>
#include <map>

namespace keys::fuzzing {

// A US keyboard that aborts (so libFuzzer reports a crash) when the language asks for something
// it must never do: send code 0, release a key it did not press, or leave a key down.
class CheckingKeyboard : public Keyboard {
public:
    KeyState state;

    void press(KeyCode code) override {
        if (code == 0) std::abort();
        ++down_[code];
    }
    void release(KeyCode code) override {
        if (down_[code]-- <= 0) std::abort();
    }
    void pressChar(char32_t ch) override {
        if (ch < 0x20 || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) std::abort();
        ++chars_[ch];
    }
    void releaseChar(char32_t ch) override {
        if (chars_[ch]-- <= 0) std::abort();
    }
    void flush() override {}
    KeyState snapshot() override { return state; }
    KeyCode keyCodeOfChar(char32_t ch) override { return testing::UsKeyCodeOfChar(ch); }

    // Every key and character pressed was released again.
    void checkAllUp() const {
        for (int n : down_)
            if (n != 0) std::abort();
        for (const auto& [ch, n] : chars_)
            if (n != 0) std::abort();
    }

private:
    std::array<int, 256> down_{};
    std::map<char32_t, int> chars_;
};

} // namespace keys::fuzzing
