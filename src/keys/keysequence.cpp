// Placeholder until the key sequence language lands.
#include "keys/keysequence.h"

namespace keys {
KeyCode KeyCodeOfChar(std::string_view, Keyboard&) { return 0; }
std::int32_t KeyCodeOfText(std::string&, Keyboard&) { return 0; }
void SendKeySequence(std::string_view, Keyboard&) {}
bool IsKeyWatchHeld(std::string_view, const KeyState&, Keyboard&) { return false; }
} // namespace keys
