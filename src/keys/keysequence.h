#pragma once

#include "keys/keyboard.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keys {

// The key sequence language. Texts are UTF-8; invalid bytes are tolerated, never trusted.

// The code of the key that types the first character of `text` (kNoKey when no key does, 0 for empty text).
KeyCode KeyCodeOfChar(std::string_view text, Keyboard& keyboard);

// The OR of the codes the text names. Replaces "[[" and "]]" in `text` by their placeholders.
std::int32_t KeyCodeOfText(std::string& text, Keyboard& keyboard);

// One key-down / key-up. Codes outside 1..255 send nothing.
void PressKey(std::int64_t code, Keyboard& keyboard);
void ReleaseKey(std::int64_t code, Keyboard& keyboard);

// Types `text` chord by chord: each ";"-separated part is pressed in order, then released in the same order.
void SendKeySequence(std::string_view text, Keyboard& keyboard);

// Whether any ";"-separated alternative of `watch` is held in `state`: the matching rules read straight
// from the text, at every call.
bool IsKeyWatchHeld(std::string_view watch, const KeyState& state, Keyboard& keyboard);

// A watch text parsed once, for asking many times: the same answers as IsKeyWatchHeld, without the
// text work. Characters of the remainder are still looked up at each call, so a layout change counts.
class KeyWatch {
public:
    explicit KeyWatch(std::string_view watch);
    bool isHeld(const KeyState& state, Keyboard& keyboard) const;

private:
    struct Alternative {
        bool empty = false;                   // names no key: never held
        std::optional<std::int64_t> testCode; // the listed entry tested first, if any
        bool remainderEmpty = false;
        std::int64_t fixedCode = 0; // the remainder's named keys, OR-ed
        std::u32string chars;       // the remainder's characters, lower-cased
    };
    static Alternative Parse(std::u32string_view alternative);
    std::vector<Alternative> alternatives_;
};

} // namespace keys
