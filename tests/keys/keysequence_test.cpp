#include "keys/fakekeyboard.h"
#include "keys/keysequence.h"
#include "keys/openkeyboard.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

using keys::testing::FakeKeyboard;
using namespace std::string_view_literals;

namespace {

std::string Sent(std::string_view text, FakeKeyboard kb = {}) {
    keys::SendKeySequence(text, kb);
    return kb.log();
}

FakeKeyboard us; // for look-ups, which send nothing
const auto CodeOfText = [](std::string text) { return keys::KeyCodeOfText(text, us); };

// Asks the text and the watch parsed once (which the agent's ticks use); they must agree. `down` lists
// the codes held, in hexadecimal.
bool Held(std::string_view watch, const std::string& down) {
    FakeKeyboard kb;
    std::istringstream codes(down);
    for (int code; codes >> std::hex >> code;)
        kb.state.down.set(size_t(code));
    const bool held = keys::IsKeyWatchHeld(watch, kb.state, kb);
    EXPECT_EQ(keys::KeyWatch(watch).isHeld(kb.state, kb), held) << watch;
    return held;
}

} // namespace

// Every key name in any letter case, with its code, whether it is sent (s) and whether a watch tests
// it first (t): then "[name]x" is held when that key and X are down, else the remainder ORs the codes.
TEST(KeySequence, EveryKeyName) {
    std::istringstream table(
        "CTRL 11 st SHIFT 10 st ALT 12 st SPACE 20 st PRINT 2A t TAB 09 st CAPS 14 st NUM 90 st SCROLL 91 st ESC 1B st "
        "ESCAPE 1B st BACK 08 st BACKSPACE 08 st ENT 0D st ENTER 0D st RETURN 0D st INS 2D st INSERT 2D st DEL 2E st "
        "DELETE 2E st HOME 24 st END 23 st PAUSE 13 st PLAY FA st NEXT 22 st PREV 21 t M_PREV B1 st M_NEXT B0 st "
        "M_PLAY B3 st M_STOP B2 st V_MUTE AD st V_DOWN AE st V_UP AF st LCTRL A2 s LSHIFT A0 s LALT A4 s RCTRL A3 s "
        "RSHIFT A1 s RALT A5 s LCLICK 01 s MOUSE1 01 s MCLICK 04 s MOUSEWHEELCLICK 04 s RCLICK 02 s MOUSE2 02 s "
        "PGUP 21 s PAGEUP 21 s PRIOR 21 s PGDN 22 s PAGEDOWN 22 s BREAK 13 s LEFT 25 s UP 26 s RIGHT 27 s DOWN 28 s");
    for (std::string name, code, uses; table >> name >> code >> uses;) {
        const std::string token = "[" + name + "]";
        EXPECT_EQ(CodeOfText(token), std::stoi(code, nullptr, 16)) << token;
        EXPECT_EQ(Sent(token), uses[0] == 's' ? "+" + code + " -" + code + " flush" : "") << token;
        EXPECT_EQ(Held(token + "x", code + " 58"), uses.back() == 't') << token;
    }
}

TEST(KeySequence, SendingPressesEachChordThenReleasesItInTheSameOrder) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"", ""},
        {"[ctrl]c;[ctrl]v", "+11 +43 -11 -43 +11 +56 -11 -56 flush"},
        {"Hello;a", "+48 +45 +4C +4C +4F -48 -45 -4C -4C -4F +41 -41 flush"},
        {";a b;", "+41 +20 +42 -41 -20 -42 flush"},
        {"a;;b", "+41 +BA +42 -41 -BA -42 flush"},
        {"[[x]]", "+DB +58 +DD -DB -58 -DD flush"},
        {"&013&014&012&", "+DB +DD +BA +37 -DB -DD -BA -37 flush"},
        {"a ]]", "+41 +20 +DD -41 -20 -DD flush"},             // escapes are read before spaces
        {"[f5];[#65];[#41]", "+74 -74 +41 -41 +29 -29 flush"}, // decimal when sending
        {"[f23];[f24];[f300]x;[#300]x;[#0]x;[foo]x;[print]x",
         "+86 -86 +18 -18 +58 -58 +58 -58 +58 -58 +58 -58 +58 -58 flush"},
        {"[#99999999999999999999];[fx];[f];[f1.5]", ""},
        {"x[ctrl;y", "+58 -58 +59 -59 flush"}, // an unclosed [ drops the rest of its chord only
        {"a\xFF\xC3/b", "+41 +BF +42 -41 -BF -42 flush"},
        {"a\x01\tb\x7f", "+41 +09 +42 -41 -09 -42 flush"},
        {"\0"sv, ""},
        {"ω", "+U3C9 -U3C9 flush"}, // a character without a key goes to the back-end as a character
    };
    for (const auto& [text, log] : cases)
        EXPECT_EQ(Sent(text), log) << text;
}

// A keyboard that, like one lending spare keys, can type two characters without a key and then needs a
// moment before the next one.
struct LendingKeyboard : FakeKeyboard {
    std::chrono::steady_clock::time_point ready;
    int lent = 0;
    std::chrono::steady_clock::time_point charsReadyAt(std::u32string_view) override { return ready; }
    void pressChar(char32_t ch) override {
        FakeKeyboard::pressChar(ch);
        if (++lent % 2 == 0) ready = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
    }
};

// Waits go back to the caller (the event loop); what was queued after goes out after, whatever the waits.
TEST(KeySequence, ASenderPausesWhereTheKeyboardWaitsAndKeepsTheOrder) {
    LendingKeyboard kb;
    keys::KeySender sender;
    sender.queue("x日本語;[ctrl]月y", kb);
    sender.queue("a", kb);
    while (const auto next = sender.send(kb)) {
        kb.events.push_back("wait");
        std::this_thread::sleep_until(*next);
    }
    // No wait for keys that need none: only a character without a key waits for the keyboard. X stays down
    // through the wait, as its chord is not over.
    EXPECT_EQ(kb.log(), "+58 +U65E5 -U65E5 +U672C -U672C flush wait +U8A9E -U8A9E -58 +11 +U6708 -U6708 +59 -11 -59 "
                        "flush +41 -41 flush");
    EXPECT_TRUE(sender.idle());

    // Given up in the middle of a chord: its keys go up, the rest is dropped.
    LendingKeyboard dropped;
    sender.queue("[shift][ctrl]日本語;b", dropped);
    ASSERT_TRUE(sender.send(dropped));
    sender.abandon(dropped);
    EXPECT_EQ(dropped.log(), "+10 +11 +U65E5 -U65E5 +U672C -U672C flush -10 -11 flush");
    EXPECT_TRUE(sender.idle() && !sender.send(dropped));
}

TEST(KeySequence, CodeOfTextCombinesTheCodesItNames) {
    const std::pair<std::string, int> cases[] = {
        {"", 0},          {"[ctrl]a", 0x51},    {"ab", 0x43},
        {"a&xyzb", 0x43}, {"&012", 0xBA},       {"[#41]", 0x41},
        {"[#4z1]", 4},    {"[#]", 0},           {"[foo]", 0},
        {"a[ctrl", 0x41}, {"[fx][f][f1.5]", 0}, {"[#ffffffffffffffffffff]", INT32_MAX},
        {"[f23]", 0x86},  {"[f24]", 0x18},      {"]]x[[", 0xDD | 0x58 | 0xDB}};
    for (const auto& [text, code] : cases)
        EXPECT_EQ(CodeOfText(text), code) << text;
    std::string text = "]]x[[";
    keys::KeyCodeOfText(text, us);
    EXPECT_EQ(text, "&014x&013") << "the caller's text gets the placeholders";
    EXPECT_EQ(keys::KeyCodeOfChar("Abc", us), 0x41);
    EXPECT_EQ(keys::KeyCodeOfChar("", us), 0);
    EXPECT_EQ(keys::KeyCodeOfChar("\xC3", us), keys::kNoKey) << "a truncated UTF-8 sequence is no key";
}

// Watches held while the keys with these codes (hexadecimal) are down, and watches not held then.
TEST(KeySequence, AWatchIsHeldWhenItsFirstEntryAndTheRestAreDown) {
    const std::pair<std::string_view, const char*> held[] = {
        {"[ctrl]l", "11 4C"},     {"[CTRL]L", "11 4C"},  {"y;[ctrl]x", "11 58"}, {"[ctrl]", "11 41"},
        {"[alt][ctrl]", "11 12"}, {"[ctrl]ab", "11 43"}, {";;", "BA"},           {"[[", "DB"},
        {"[ctrl][#41]", "11 41"}, {"[#65]", "65"},       {"[f23]", "86"},        {"[f30]x", "58"}};
    const std::pair<std::string_view, const char*> notHeld[] = {
        {"[ctrl]l", "11"}, {"", "58"},       {"[alt][ctrl]", "11"}, {"[ctrl]ab", "11 41 42"},
        {"[#65]", "41"},   {"[#1ff]", "FF"}, {"[f24]", "18"},       {"[f30]", "1E"},
        {"x;", ""},        {";x", ""},       {"[ctrl][foo]", "11"}, {"[ctrl][#41", "11 41"}};
    for (const auto& [watch, down] : held)
        EXPECT_TRUE(Held(watch, down)) << watch;
    for (const auto& [watch, down] : notHeld)
        EXPECT_FALSE(Held(watch, down)) << watch;
}

TEST(KeySequence, MegabytesOfBracketsAreReadInLinearTime) {
    const size_t n = 1 << 19;
    std::string chords, tokens;
    while (chords.size() < n)
        chords += "[ctrl][f", tokens += "[a;[[#]]&01";
    for (std::string text : {std::string(n, '['), std::string(n, ']'), std::string(n, ';'),
                             "[#" + std::string(n, '9') + "]", "[f" + std::string(n, '1') + "]", chords, tokens}) {
        FakeKeyboard kb;
        kb.hold({0x11, 0xDB, 0xDD});
        keys::SendKeySequence(text, kb);
        keys::IsKeyWatchHeld(text, kb.state, kb);
        EXPECT_GE(keys::KeyCodeOfText(text, kb), 0);
    }
}
