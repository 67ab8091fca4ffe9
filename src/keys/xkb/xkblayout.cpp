#include "keys/xkb/xkblayout.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace keys {
namespace {

struct Position {
    KeyCode code;
    std::uint8_t keycode;
};

// Virtual key to X keycode (kernel key code + 8) by US key position. Where two codes share a key,
// the first listed is the one a character on that key reports.
constexpr Position kPositions[] = {
    {0x08, 22},  {0x09, 23},  {0x0D, 36},  {0x10, 50},  {0x11, 37},  {0x12, 64},  {0x13, 127}, {0x14, 66},  {0x1B, 9},
    {0x20, 65},  {0x21, 112}, {0x22, 117}, {0x23, 115}, {0x24, 110}, {0x25, 113}, {0x26, 111}, {0x27, 114}, {0x28, 116},
    {0x2C, 107}, {0x2A, 107}, {0x2D, 118}, {0x2E, 119}, {0x2F, 146}, {0x30, 19},  {0x31, 10},  {0x32, 11},  {0x33, 12},
    {0x34, 13},  {0x35, 14},  {0x36, 15},  {0x37, 16},  {0x38, 17},  {0x39, 18},  {0x41, 38},  {0x42, 56},  {0x43, 54},
    {0x44, 40},  {0x45, 26},  {0x46, 41},  {0x47, 42},  {0x48, 43},  {0x49, 31},  {0x4A, 44},  {0x4B, 45},  {0x4C, 46},
    {0x4D, 58},  {0x4E, 57},  {0x4F, 32},  {0x50, 33},  {0x51, 24},  {0x52, 27},  {0x53, 39},  {0x54, 28},  {0x55, 30},
    {0x56, 55},  {0x57, 25},  {0x58, 53},  {0x59, 29},  {0x5A, 52},  {0x5B, 133}, {0x5C, 134}, {0x5D, 135}, {0x5F, 150},
    {0x60, 90},  {0x61, 87},  {0x62, 88},  {0x63, 89},  {0x64, 83},  {0x65, 84},  {0x66, 85},  {0x67, 79},  {0x68, 80},
    {0x69, 81},  {0x6A, 63},  {0x6B, 86},  {0x6C, 129}, {0x6D, 82},  {0x6E, 91},  {0x6F, 106}, {0x70, 67},  {0x71, 68},
    {0x72, 69},  {0x73, 70},  {0x74, 71},  {0x75, 72},  {0x76, 73},  {0x77, 74},  {0x78, 75},  {0x79, 76},  {0x7A, 95},
    {0x7B, 96},  {0x7C, 191}, {0x7D, 192}, {0x7E, 193}, {0x7F, 194}, {0x80, 195}, {0x81, 196}, {0x82, 197}, {0x83, 198},
    {0x84, 199}, {0x85, 200}, {0x86, 201}, {0x87, 202}, {0x90, 77},  {0x91, 78},  {0xA0, 50},  {0xA1, 62},  {0xA2, 37},
    {0xA3, 105}, {0xA4, 64},  {0xA5, 108}, {0xA6, 166}, {0xA7, 167}, {0xA8, 181}, {0xA9, 136}, {0xAA, 225}, {0xAC, 180},
    {0xAD, 121}, {0xAE, 122}, {0xAF, 123}, {0xB0, 171}, {0xB1, 173}, {0xB2, 174}, {0xB3, 172}, {0xB4, 163}, {0xBA, 47},
    {0xBB, 21},  {0xBC, 59},  {0xBD, 20},  {0xBE, 60},  {0xBF, 61},  {0xC0, 49},  {0xDB, 34},  {0xDC, 51},  {0xDD, 35},
    {0xDE, 48},  {0xE2, 94},  {0xFA, 215},
};

// Further keys that count as a virtual key being down: the right-hand twins and keypad Enter.
constexpr Position kAlsoDown[] = {{0x10, 62}, {0x11, 105}, {0x12, 108}, {0x0D, 104}};

// The ISO key beside left Shift duplicates characters found elsewhere; it is the last choice.
constexpr unsigned kIsoExtraKey = 94;

// Virtual keys that Windows assigns by the character they type, not by position.
constexpr std::pair<KeyCode, xkb_keysym_t> kByCharacter[] = {
    {0xBB, XKB_KEY_plus}, {0xBC, XKB_KEY_comma}, {0xBD, XKB_KEY_minus}, {0xBE, XKB_KEY_period}};

struct KeymapView {
    xkb_keymap* keymap;
    std::uint32_t layout;

    // The key's own group for the layout in force: keys with fewer groups wrap, as the server does.
    std::uint32_t groupOf(xkb_keycode_t kc) const {
        const xkb_layout_index_t n = xkb_keymap_num_layouts_for_key(keymap, kc);
        return n == 0 ? 0 : layout % n;
    }
    unsigned levels(xkb_keycode_t kc) const { return xkb_keymap_num_levels_for_key(keymap, kc, groupOf(kc)); }
    int syms(xkb_keycode_t kc, unsigned level, const xkb_keysym_t** out) const {
        return xkb_keymap_key_get_syms_by_level(keymap, kc, groupOf(kc), level, out);
    }
};

// Keycodes that fit a byte and a key state bitmap.
xkb_keycode_t FirstKeycode(xkb_keymap* km) {
    return std::max<xkb_keycode_t>(8, xkb_keymap_min_keycode(km));
}
xkb_keycode_t LastKeycode(xkb_keymap* km) {
    return std::min<xkb_keycode_t>(255, xkb_keymap_max_keycode(km));
}

} // namespace

XkbLayout::XkbLayout(xkb_keymap* keymap, std::uint32_t layout) {
    const KeymapView view{keymap, layout};
    const xkb_keycode_t first = FirstKeycode(keymap), last = LastKeycode(keymap);

    for (const Position& p : kPositions)
        keycodeOf_[p.code] = p.keycode;

    // The lowest level of each key that yields `sym`, searching the ISO extra key last.
    const auto findKey = [&](xkb_keysym_t sym) -> unsigned {
        for (int pass = 0; pass < 2; ++pass)
            for (unsigned level = 0; level < 8; ++level)
                for (xkb_keycode_t kc = first; kc <= last; ++kc) {
                    if ((kc == kIsoExtraKey) != (pass == 1) || level >= view.levels(kc)) continue;
                    const xkb_keysym_t* syms = nullptr;
                    const int n = view.syms(kc, level, &syms);
                    if (std::find(syms, syms + n, sym) != syms + n) return kc;
                }
        return 0;
    };

    std::array<bool, 256> byLayout{};
    for (KeyCode letter = 'A'; letter <= 'Z'; ++letter) {
        const xkb_keycode_t kc = [&]() -> xkb_keycode_t {
            for (xkb_keycode_t k = first; k <= last; ++k) {
                const xkb_keysym_t* syms = nullptr;
                if (view.syms(k, 0, &syms) == 1 &&
                    xkb_keysym_to_lower(syms[0]) == xkb_keysym_t(XKB_KEY_a + (letter - 'A')))
                    return k;
            }
            return 0;
        }();
        if (kc) {
            keycodeOf_[letter] = std::uint8_t(kc);
            byLayout[letter] = true;
        }
    }
    for (const auto& [code, sym] : kByCharacter)
        if (const unsigned kc = findKey(sym)) {
            keycodeOf_[code] = std::uint8_t(kc);
            byLayout[code] = true;
        }

    // A code placed by the layout takes another code's key; that code moves to a key the layout left
    // without one, so every key keeps a code (German: "/" goes to the "ß" key when "-" takes its key).
    std::array<bool, 256> taken{};
    for (unsigned code = 1; code < 256; ++code)
        if (byLayout[code]) taken[keycodeOf_[code]] = true;
    std::vector<std::uint8_t> orphans;
    for (const Position& p : kPositions)
        if (byLayout[p.code] && !taken[p.keycode]) orphans.push_back(p.keycode);
    auto orphan = orphans.begin();
    for (const Position& p : kPositions)
        if (!byLayout[p.code] && keycodeOf_[p.code] == p.keycode && taken[p.keycode])
            keycodeOf_[p.code] = orphan == orphans.end() ? 0 : *orphan++;

    // Which virtual key a keycode reports: codes placed by the layout win over positions.
    std::array<KeyCode, 256> codeOfKeycode{};
    for (unsigned code = 1; code < 256; ++code)
        if (byLayout[code]) codeOfKeycode[keycodeOf_[code]] = KeyCode(code);
    for (const Position& p : kPositions)
        if (const std::uint8_t kc = keycodeOf_[p.code]; kc && !codeOfKeycode[kc]) codeOfKeycode[kc] = p.code;

    for (int pass = 0; pass < 2; ++pass)
        for (unsigned level = 0; level < 8; ++level)
            for (xkb_keycode_t kc = first; kc <= last; ++kc) {
                if ((kc == kIsoExtraKey) != (pass == 1) || level >= view.levels(kc) || !codeOfKeycode[kc]) continue;
                const xkb_keysym_t* syms = nullptr;
                const int n = view.syms(kc, level, &syms);
                for (int i = 0; i < n; ++i)
                    codeOfKeysym_.emplace(syms[i], codeOfKeycode[kc]);
            }

    std::array<bool, 256> named{};
    for (const Position& p : kPositions)
        named[p.keycode] = true;
    for (xkb_keycode_t kc = first; kc <= last; ++kc) {
        bool empty = !named[kc];
        for (xkb_layout_index_t g = 0; empty && g < xkb_keymap_num_layouts_for_key(keymap, kc); ++g)
            for (xkb_level_index_t l = 0; empty && l < xkb_keymap_num_levels_for_key(keymap, kc, g); ++l) {
                const xkb_keysym_t* syms = nullptr;
                empty = xkb_keymap_key_get_syms_by_level(keymap, kc, g, l, &syms) == 0;
            }
        if (empty) spare_.push_back(kc);
    }

    for (unsigned code = 1; code < 256; ++code)
        if (keycodeOf_[code] && code != 0x01 && code != 0x02 && code != 0x04)
            stateKeys_.emplace_back(KeyCode(code), keycodeOf_[code]);
    for (const Position& p : kAlsoDown)
        stateKeys_.emplace_back(p.code, p.keycode);
}

KeyCode XkbLayout::codeOfChar(char32_t ch) const {
    // A line break is typed with Enter.
    if (ch == U'\n') ch = U'\r';
    const xkb_keysym_t sym = xkb_utf32_to_keysym(ch);
    if (sym == XKB_KEY_NoSymbol) return kNoKey;
    const auto it = codeOfKeysym_.find(sym);
    return it == codeOfKeysym_.end() ? kNoKey : it->second;
}

} // namespace keys
