#pragma once

#include "keys/keyboard.h"

#include <cstdint>
#include <string>
#include <string_view>

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

// Whether any ";"-separated alternative of `watch` is held in `state`.
bool IsKeyWatchHeld(std::string_view watch, const KeyState& state, Keyboard& keyboard);

} // namespace keys
