// SendKeySequence on any text: no crash, no hang, no code 0, and every key pressed is released again.
#include "checkingkeyboard.h"
#include "keys/keysequence.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    keys::fuzzing::CheckingKeyboard keyboard;
    keys::SendKeySequence(std::string_view(reinterpret_cast<const char*>(data), size), keyboard);
    keyboard.checkAllUp();
    return 0;
}
