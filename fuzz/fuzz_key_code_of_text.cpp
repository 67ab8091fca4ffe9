// KeyCodeOfText on any text: no crash or hang, a code that is never negative, and no escape left behind.
#include "checkingkeyboard.h"
#include "keys/keysequence.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    keys::fuzzing::CheckingKeyboard keyboard;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (keys::KeyCodeOfText(text, keyboard) < 0) std::abort();
    if (text.find("[[") != std::string::npos || text.find("]]") != std::string::npos) std::abort();
    return 0;
}
