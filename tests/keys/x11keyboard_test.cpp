#include "keys/keyprobe.h"
#include "keys/keysequence.h"
#include "keys/x11/x11keyboard.h"

// Before the X headers, whose macros (None, Bool) break it.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using keys::testing::KeyProbe;

namespace {

class X11KeyboardTest : public ::testing::Test {
protected:
    // One connection for the whole suite: Xvfb resets, and refuses connections for a moment, whenever
    // its last client leaves.
    static void SetUpTestSuite() {
        for (int attempt = 0; attempt < 40 && std::getenv("DISPLAY") && !shared; ++attempt) {
            shared = keys::X11Keyboard::open();
            if (!shared) std::this_thread::sleep_for(50ms);
        }
    }
    static void TearDownTestSuite() { shared.reset(); }

    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set: run under tests/support/with-desktop.sh";
        ASSERT_TRUE(shared) << "cannot open the display";
        keyboard = shared.get();
    }

    void setLayout(const char* layout) {
        const std::string command = std::string("setxkbmap ") + layout;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        keyboard->snapshot();
    }

    // What the probe window received for `text`.
    std::vector<std::string> typed(const std::string& text, size_t expected) {
        KeyProbe probe;
        EXPECT_TRUE(probe.ready()) << "the probe window did not get the focus";
        keys::SendKeySequence(text, *keyboard);
        std::vector<std::string> got = probe.read(expected, 3s);
        const std::vector<std::string> extra = probe.read(1, 100ms);
        got.insert(got.end(), extra.begin(), extra.end());
        return got;
    }

    // Every Latin-1 character that a key of the typing block types gets a code whose key carries it.
    void expectEveryCharacterRoundTrips(const char* layout) {
        Display* display = keyboard->display();
        const auto carries = [&](unsigned keycode, char32_t ch) {
            for (int level = 0; level < 4; ++level)
                if (XkbKeycodeToKeysym(display, KeyCode(keycode), 0, level) == KeySym(ch)) return true;
            return false;
        };
        for (char32_t ch = 0x21; ch <= 0xFF; ++ch) {
            if (ch >= 0x7F && ch < 0xA0) continue;
            // Keys of the typing block: the digit row to the bottom row, the ISO key and the space bar.
            bool typed = carries(65, ch) || carries(94, ch);
            for (unsigned keycode = 10; keycode <= 61 && !typed; ++keycode)
                typed = carries(keycode, ch);
            if (!typed) continue;
            const keys::KeyCode code = keyboard->keyCodeOfChar(ch);
            ASSERT_NE(code, keys::kNoKey) << layout << " U+" << std::hex << unsigned(ch);
            EXPECT_TRUE(carries(keyboard->keycodeOf(code), ch))
                << layout << " U+" << std::hex << unsigned(ch) << " code " << unsigned(code);
        }
    }

    static inline std::unique_ptr<keys::X11Keyboard> shared;
    keys::X11Keyboard* keyboard = nullptr;
};

using Names = std::vector<std::string>;

TEST_F(X11KeyboardTest, AnotherProcessReceivesExactlyWhatWasTyped) {
    setLayout("us");
    EXPECT_EQ(typed("abc;xyz;1;2;3", 9), (Names{"a", "b", "c", "x", "y", "z", "1", "2", "3"}));
    EXPECT_EQ(typed("[shift]2;[shift]a;[SHIFT]/", 6), (Names{"Shift_L", "at", "Shift_L", "A", "Shift_L", "question"}));
    EXPECT_EQ(typed(";;;[[;]];,;.;-;=;'", 8),
              (Names{"semicolon", "bracketleft", "bracketright", "comma", "period", "minus", "equal", "apostrophe"}));
    EXPECT_EQ(typed("[f1];[f5];[f12];[enter];[tab];[esc];[back];a b", 10),
              (Names{"F1", "F5", "F12", "Return", "Tab", "Escape", "BackSpace", "a", "space", "b"}));
    EXPECT_EQ(typed("Hello;ωxω", 8), (Names{"h", "e", "l", "l", "o", "Greek_omega", "x", "Greek_omega"}))
        << "a key named twice in one chord is typed twice";
    EXPECT_EQ(typed("[left][up][right][down];[home];[end];[pgup];[pgdn];[del];[ins]", 10),
              (Names{"Left", "Up", "Right", "Down", "Home", "End", "Prior", "Next", "Delete", "Insert"}));
}

TEST_F(X11KeyboardTest, ACharacterNoKeyTypesArrivesThroughALentKey) {
    setLayout("us");
    ASSERT_EQ(keyboard->keyCodeOfChar(U'ω'), keys::kNoKey);
    EXPECT_EQ(typed("ω;x;Ω;ω", 4), (Names{"Greek_omega", "x", "Greek_OMEGA", "Greek_omega"}));
    keyboard->snapshot();
    EXPECT_EQ(keyboard->keyCodeOfChar(U'ω'), keys::kNoKey) << "the lent key is given back";
}

TEST_F(X11KeyboardTest, KeysHeldElsewhereMakeTheWatchHeld) {
    setLayout("us");
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    const auto key = [&](unsigned keycode, bool down) {
        XTestFakeKeyEvent(other, keycode, down, CurrentTime);
        XSync(other, False);
    };
    const auto held = [&](const char* watch) { return keys::IsKeyWatchHeld(watch, keyboard->snapshot(), *keyboard); };
    const unsigned ctrl = keyboard->keycodeOf(0x11), y = keyboard->keycodeOf('Y');
    const unsigned alt = keyboard->keycodeOf(0x12), f4 = keyboard->keycodeOf(0x73);

    EXPECT_FALSE(held("[ctrl]y"));
    key(ctrl, true);
    EXPECT_FALSE(held("[ctrl]y"));
    EXPECT_TRUE(held("[ctrl]"));
    key(y, true);
    EXPECT_TRUE(held("[ctrl]y"));
    EXPECT_TRUE(held("[ctrl]x;[CTRL]Y"));
    EXPECT_FALSE(held("[ctrl]x"));
    key(y, false);
    EXPECT_FALSE(held("[ctrl]y"));
    key(ctrl, false);
    EXPECT_FALSE(held("[ctrl]"));

    key(alt, true);
    key(f4, true);
    EXPECT_TRUE(held("[alt][f4]"));
    key(f4, false);
    key(alt, false);
    EXPECT_FALSE(held("[alt][f4]"));

    keys::PressKey(0x01, *keyboard);
    keyboard->flush();
    EXPECT_TRUE(keyboard->snapshot().isDown(0x01)) << "a mouse code is sent as a button";
    keys::ReleaseKey(0x01, *keyboard);
    keyboard->flush();
    EXPECT_FALSE(keyboard->snapshot().isDown(0x01));

    XTestFakeButtonEvent(other, 3, True, CurrentTime);
    XSync(other, False);
    EXPECT_TRUE(keyboard->snapshot().isDown(0x02)) << "the right button is read from the pointer";
    XTestFakeButtonEvent(other, 3, False, CurrentTime);
    XSync(other, False);
    EXPECT_FALSE(keyboard->snapshot().isDown(0x02));
    XCloseDisplay(other);
}

TEST_F(X11KeyboardTest, CharacterCodesFollowTheLayoutInForce) {
    setLayout("us");
    const std::u32string punctuation = U";=,-./`[\\]'";
    const int codes[] = {0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDC, 0xDD, 0xDE};
    for (size_t i = 0; i < punctuation.size(); ++i)
        EXPECT_EQ(keyboard->keyCodeOfChar(punctuation[i]), codes[i]) << char(punctuation[i]);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'a'), 0x41);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'A'), 0x41);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'&'), 0x37);
    EXPECT_EQ(keyboard->keyCodeOfChar(U' '), 0x20);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'z'), 0x5A);
    expectEveryCharacterRoundTrips("us");

    setLayout("de");
    EXPECT_EQ(keyboard->keyCodeOfChar(U'z'), 0x5A) << "letters keep their codes on a German layout";
    EXPECT_EQ(keyboard->keyCodeOfChar(U'y'), 0x59);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'+'), 0xBB);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'-'), 0xBD);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'@'), 0x51) << "AltGr+Q: the key, shift state dropped";
    expectEveryCharacterRoundTrips("de");
    EXPECT_EQ(typed("y;z;[shift]7", 4), (Names{"y", "z", "Shift_L", "slash"}));

    setLayout("fr");
    EXPECT_EQ(keyboard->keyCodeOfChar(U'a'), 0x41) << "letters keep their codes on a French layout";
    EXPECT_EQ(keyboard->keycodeOf('A'), 24u);
    expectEveryCharacterRoundTrips("fr");
    setLayout("us");
}

TEST_F(X11KeyboardTest, SwitchingTheLayoutGroupIsSeenAtTheNextTick) {
    setLayout("-layout us,de");
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    const auto lockGroup = [&](unsigned group) {
        XkbLockGroup(other, XkbUseCoreKbd, group);
        XSync(other, False);
        keyboard->snapshot();
    };
    EXPECT_EQ(keyboard->keyCodeOfChar(U'ß'), keys::kNoKey);
    lockGroup(1);
    EXPECT_NE(keyboard->keyCodeOfChar(U'ß'), keys::kNoKey);
    EXPECT_EQ(keyboard->keycodeOf('Z'), 29u) << "the German Z sits where the US Y does";
    lockGroup(0);
    EXPECT_EQ(keyboard->keyCodeOfChar(U'ß'), keys::kNoKey);
    EXPECT_EQ(keyboard->keycodeOf('Z'), 52u);
    XCloseDisplay(other);
    setLayout("us");
}

} // namespace
