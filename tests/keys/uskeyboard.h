#pragma once

#include "keys/keyboard.h"

#include <string_view>

namespace keys::testing {

// The key a character is on in the US English layout, shift dropped; kNoKey when none is.
// Shared by the recording fake and the fuzzers' checking keyboard.
inline KeyCode UsKeyCodeOfChar(char32_t ch) {
    if ((ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z')) return KeyCode(U'A' + (ch | 0x20) - U'a');
    if (ch >= U'0' && ch <= U'9') return KeyCode(ch);
    static constexpr std::u32string_view shiftedDigits = U")!@#$%^&*(";
    if (auto i = shiftedDigits.find(ch); i != std::u32string_view::npos) return KeyCode(U'0' + i);
    static constexpr struct {
        std::u32string_view chars;
        KeyCode code;
    } punctuation[] = {
        {U" ", 0x20},  {U"\t", 0x09}, {U"\r\n", 0x0D}, {U";:", 0xBA}, {U"=+", 0xBB},  {U",<", 0xBC}, {U"-_", 0xBD},
        {U".>", 0xBE}, {U"/?", 0xBF}, {U"`~", 0xC0},   {U"[{", 0xDB}, {U"\\|", 0xDC}, {U"]}", 0xDD}, {U"'\"", 0xDE},
    };
    for (const auto& p : punctuation)
        if (p.chars.find(ch) != std::u32string_view::npos) return p.code;
    return kNoKey;
}

} // namespace keys::testing
