#pragma once

// The behaviour every keyboard back-end shows, whatever it types through and reads from: one table of
// cases that the fake, X11 under Xvfb, the input devices through fed descriptors and uinput through a
// descriptor all pass.
#include "keys/keyboard.h"
#include "keys/keysequence.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace keys::testing {

// One back-end under test, with the means to act as the user and to see what reached the desktop.
class KeyboardRig {
public:
    virtual ~KeyboardRig() = default;
    virtual Keyboard& keyboard() = 0;
    // The user presses or lets go of a key or mouse button (by virtual-key code) on a device of their
    // own. False when this back-end does not watch, or cannot be fed here.
    virtual bool userKey(KeyCode code, bool down) { return false; }
    // The key and button transitions that reached the desktop since the last call, as virtual-key codes
    // ("+41 -41"); nothing when this back-end's output cannot be seen here.
    virtual std::optional<std::string> arrived() { return std::nullopt; }
};

inline std::string Hex(KeyCode code) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", code);
    return text;
}

// Watches answered while the user holds `held`, and once they let go of them all again. False, with
// nothing checked, when the back-end cannot be fed keys.
inline bool ExpectWatchBehaviour(KeyboardRig& rig) {
    const struct {
        std::vector<KeyCode> held;
        const char* watch;
        bool expected;
    } cases[] = {
        {{}, "[ctrl]l", false},
        {{0x11}, "[ctrl]l", false},
        {{'L'}, "[ctrl]l", false},
        {{0x11, 'L'}, "[ctrl]l", true},
        {{0x11, 'Y'}, "[ctrl]x;[CTRL]Y", true},
        {{0x11, 'Y'}, "[ctrl]x", false},
        {{0x12, 0x73}, "[alt][f4]", true},
        {{0xA3, 'L'}, "[ctrl]l", true}, // the right-hand Ctrl is a Ctrl too
        {{0xA1}, "[shift]", true},
        {{0xBA}, ";;", true},
        {{0x0D}, "[enter]", true},
        {{0x74, 0x10}, "[f5]", true},
        // Mouse buttons, the left last: it closes the menu that a right click on a desktop may open.
        {{0x04}, "[#4]", true},
        {{0x02}, "[#2]", true},
        {{0x01}, "[#1]", true},
    };
    Keyboard& kb = rig.keyboard();
    for (const auto& c : cases) {
        bool fed = true;
        for (KeyCode code : c.held)
            fed = rig.userKey(code, true) && fed;
        if (!fed) return false;
        const KeyState state = kb.snapshot();
        EXPECT_EQ(IsKeyWatchHeld(c.watch, state, kb), c.expected) << c.watch;
        for (KeyCode code : c.held)
            EXPECT_TRUE(state.isDown(code)) << c.watch << ": " << Hex(code) << " is down";
        for (KeyCode code : c.held)
            rig.userKey(code, false);
        const KeyState after = kb.snapshot();
        EXPECT_FALSE(IsKeyWatchHeld(c.watch, after, kb)) << c.watch << " after letting go";
        for (KeyCode code : c.held)
            EXPECT_FALSE(after.isDown(code)) << c.watch << ": " << Hex(code) << " is up again";
    }
    return true;
}

// What reaches the desktop for a few sequences: the presses in order, every key let go at the end, and
// for chords without a repeated key the exact order of all events. False, with nothing checked, when
// what the back-end sends cannot be seen.
inline bool ExpectSendBehaviour(KeyboardRig& rig) {
    const struct {
        const char* text;
        const char* downs;
        const char* exact; // null where a back-end may let a repeated key go early
    } cases[] = {
        {"[ctrl]c", "+11 +43", "+11 +43 -11 -43"},
        {"[shift]a;[f5]", "+10 +41 +74", "+10 +41 -10 -41 +74 -74"},
        {"hello", "+48 +45 +4C +4C +4F", nullptr}, // a key named twice goes down twice
        {"[left][up]", "+25 +26", "+25 +26 -25 -26"},
        {"[mclick];[rclick];[lclick]", "+04 +02 +01", "+04 -04 +02 -02 +01 -01"},
        {"[foo]", "", ""},
    };
    Keyboard& kb = rig.keyboard();
    if (!rig.arrived()) return false; // and what came before is not this test's
    for (const auto& c : cases) {
        SendKeySequence(c.text, kb);
        const std::optional<std::string> got = rig.arrived();
        std::istringstream events(*got);
        std::string downs;
        std::map<std::string, int> held;
        for (std::string e; events >> e;) {
            held[e.substr(1)] += e[0] == '+' ? 1 : -1;
            if (e[0] == '+') downs += (downs.empty() ? "" : " ") + e;
        }
        EXPECT_EQ(downs, c.downs) << c.text;
        for (const auto& [key, count] : held)
            EXPECT_EQ(count, 0) << c.text << ": " << key << " is let go as often as pressed";
        if (c.exact) {
            EXPECT_EQ(*got, c.exact) << c.text;
        }
    }
    EXPECT_EQ(kb.keyCodeOfChar(U'a'), 'A');
    EXPECT_EQ(kb.keyCodeOfChar(U';'), 0xBA);
    EXPECT_EQ(kb.keyCodeOfChar(U'\n'), 0x0D);
    return true;
}

} // namespace keys::testing
