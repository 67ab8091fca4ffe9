#include "keys/fakekeyboard.h"
#include "keys/keysequence.h"

#include <gtest/gtest.h>

using keys::testing::FakeKeyboard;

namespace {

std::string Sent(std::string_view text) {
    FakeKeyboard kb;
    keys::SendKeySequence(text, kb);
    return kb.log();
}

int CodeOfText(std::string text) {
    FakeKeyboard kb;
    return keys::KeyCodeOfText(text, kb);
}

// Asks the text and the watch parsed once (which the agent's ticks use); they must agree.
bool Held(std::string_view watch, std::initializer_list<int> down) {
    FakeKeyboard kb;
    kb.hold(down);
    const bool held = keys::IsKeyWatchHeld(watch, kb.state, kb);
    EXPECT_EQ(keys::KeyWatch(watch).isHeld(kb.state, kb), held) << watch;
    return held;
}

} // namespace

TEST(KeyCodeOfChar, UsesFirstCharacterAndFoldsCase) {
    FakeKeyboard kb;
    EXPECT_EQ(keys::KeyCodeOfChar("a", kb), 0x41);
    EXPECT_EQ(keys::KeyCodeOfChar("Abc", kb), 0x41);
    EXPECT_EQ(keys::KeyCodeOfChar("&", kb), 0x37);
    EXPECT_EQ(keys::KeyCodeOfChar(";", kb), 0xBA);
    EXPECT_EQ(keys::KeyCodeOfChar(" ", kb), 0x20);
    EXPECT_EQ(keys::KeyCodeOfChar("", kb), 0);
    EXPECT_EQ(keys::KeyCodeOfChar("ω", kb), keys::kNoKey);
    EXPECT_EQ(keys::KeyCodeOfChar("\xC3", kb), keys::kNoKey) << "a truncated UTF-8 sequence is no key";
}

TEST(KeyCodeOfText, CombinesCodesOfTheWatchCodeNames) {
    EXPECT_EQ(CodeOfText(""), 0);
    EXPECT_EQ(CodeOfText("a"), 0x41);
    EXPECT_EQ(CodeOfText("[ctrl]"), 0x11);
    EXPECT_EQ(CodeOfText("[CTRL]"), 0x11);
    EXPECT_EQ(CodeOfText("[break]"), 0x13);
    EXPECT_EQ(CodeOfText("[f5]"), 0x74);
    EXPECT_EQ(CodeOfText("[f23]"), 0x86);
    EXPECT_EQ(CodeOfText("[f24]"), 0x18);
    EXPECT_EQ(CodeOfText("[f30]"), 0x1E);
    EXPECT_EQ(CodeOfText("[#41]"), 0x41) << "hexadecimal in a watch";
    EXPECT_EQ(CodeOfText("[#4z1]"), 0x4) << "reading stops at the first non-digit";
    EXPECT_EQ(CodeOfText("[#]"), 0);
    EXPECT_EQ(CodeOfText("[ctrl]a"), 0x51);
    EXPECT_EQ(CodeOfText("ab"), 0x43);
    EXPECT_EQ(CodeOfText("a&xyzb"), 0x43);
    EXPECT_EQ(CodeOfText("&012"), 0xBA);
    EXPECT_EQ(CodeOfText("[foo]"), 0);
}

TEST(KeyCodeOfText, ReplacesBracketEscapesInTheCallersText) {
    FakeKeyboard kb;
    std::string text = "]]x[[";
    EXPECT_EQ(keys::KeyCodeOfText(text, kb), 0xDD | 0x58 | 0xDB);
    EXPECT_EQ(text, "&014x&013");
}

TEST(KeyCodeOfText, BadTokensNameNoKey) {
    EXPECT_EQ(CodeOfText("a[ctrl"), 0x41) << "an unclosed [ ends the reading";
    EXPECT_EQ(CodeOfText("[fx]"), 0);
    EXPECT_EQ(CodeOfText("[f]"), 0);
    EXPECT_EQ(CodeOfText("[f1.5]"), 0);
    EXPECT_EQ(CodeOfText("[#ffffffffffffffffffff]"), INT32_MAX) << "huge numbers saturate";
    EXPECT_EQ(CodeOfText("[space]"), 0x20) << "every key name is understood in a watch's remainder";
    EXPECT_EQ(CodeOfText("[left]"), 0x25);
}

TEST(SendKeySequence, PressesEachChordThenReleasesItInTheSameOrder) {
    EXPECT_EQ(Sent(""), "");
    EXPECT_EQ(Sent("[ctrl]c;[ctrl]v"), "+11 +43 -11 -43 +11 +56 -11 -56 flush");
    EXPECT_EQ(Sent("a;"), "+41 -41 flush");
    EXPECT_EQ(Sent(";a"), "+41 -41 flush");
    EXPECT_EQ(Sent("hello"), "+48 +45 +4C +4C +4F -48 -45 -4C -4C -4F flush");
    EXPECT_EQ(Sent("Hello"), Sent("hello"));
    EXPECT_EQ(Sent("a b"), "+41 +20 +42 -41 -20 -42 flush");
    EXPECT_EQ(Sent("[lclick]"), "+01 -01 flush");
    EXPECT_EQ(Sent("[mousewheelclick];[MOUSE2]"), "+04 -04 +02 -02 flush");
}

TEST(SendKeySequence, EscapesAndPlaceholders) {
    EXPECT_EQ(Sent("a;;b"), "+41 +BA +42 -41 -BA -42 flush");
    EXPECT_EQ(Sent("[[x]]"), "+DB +58 +DD -DB -58 -DD flush");
    EXPECT_EQ(Sent("&013&014&012"), Sent("[[]];;"));
    EXPECT_EQ(Sent("&"), "+37 -37 flush");
    EXPECT_EQ(Sent("a ]]"), "+41 +20 +DD -41 -20 -DD flush") << "escapes are read before spaces";
}

TEST(SendKeySequence, FunctionAndCodeTokens) {
    EXPECT_EQ(Sent("[f5]"), "+74 -74 flush");
    EXPECT_EQ(Sent("[#65]"), "+41 -41 flush") << "decimal when sending";
    EXPECT_EQ(Sent("[#41]"), "+29 -29 flush");
    EXPECT_EQ(Sent("[foo]x"), "+58 -58 flush");
    EXPECT_EQ(Sent("[print]x"), "+58 -58 flush") << "[print] is a watch-only name";
}

TEST(SendKeySequence, BadTokensSendNothingAndNeverAnOutOfRangeCode) {
    EXPECT_EQ(Sent("[#300]x"), "+58 -58 flush");
    EXPECT_EQ(Sent("[f300]x"), "+58 -58 flush");
    EXPECT_EQ(Sent("[#0]x"), "+58 -58 flush");
    EXPECT_EQ(Sent("[#99999999999999999999]"), "");
    EXPECT_EQ(Sent("[fx];[f]"), "");
    EXPECT_EQ(Sent("x[ctrl;y"), "+58 -58 +59 -59 flush") << "an unclosed [ drops the rest of its chord only";
    EXPECT_EQ(Sent("a\xFF\xC3/b"), "+41 +BF +42 -41 -BF -42 flush") << "invalid bytes are skipped";
    EXPECT_EQ(Sent("ω"), "+U3C9 -U3C9 flush") << "a character without a key goes to the back-end as a character";
}

TEST(IsKeyWatchHeld, TestsTheFirstListedEntryAndTheRemaindersCode) {
    EXPECT_TRUE(Held("[ctrl]l", {0x11, 0x4C}));
    EXPECT_FALSE(Held("[ctrl]l", {0x11}));
    EXPECT_TRUE(Held("[CTRL]L", {0x11, 0x4C}));
    EXPECT_TRUE(Held("[ctrl]y;[ctrl]x", {0x11, 0x58}));
    EXPECT_TRUE(Held("[ctrl]", {0x11, 0x41}));
    EXPECT_TRUE(Held("x", {0x58}));
    EXPECT_FALSE(Held("", {0x58}));
    EXPECT_TRUE(Held("[alt][ctrl]", {0x11, 0x12})) << "Ctrl is tested, [alt] is the remainder";
    EXPECT_FALSE(Held("[alt][ctrl]", {0x11}));
    EXPECT_TRUE(Held("[ctrl]ab", {0x11, 0x43})) << "the remainder is the OR of its codes";
    EXPECT_FALSE(Held("[ctrl]ab", {0x11, 0x41, 0x42}));
    EXPECT_TRUE(Held("[m_stop]x", {0xB2, 0x58}));
    EXPECT_FALSE(Held("[m_stop]x", {0xB0, 0x58}));
    EXPECT_TRUE(Held("[ent]", {0x0D}));
    EXPECT_TRUE(Held(";;", {0xBA}));
    EXPECT_TRUE(Held("[[", {0xDB}));
}

TEST(IsKeyWatchHeld, CodeAndFunctionKeyTokens) {
    EXPECT_TRUE(Held("[ctrl][#41]", {0x11, 0x41}));
    EXPECT_TRUE(Held("[#65]", {0x65})) << "hexadecimal when watching";
    EXPECT_FALSE(Held("[#65]", {0x41}));
    EXPECT_TRUE(Held("[f5]", {0x74}));
    EXPECT_TRUE(Held("[alt][f4]", {0x12, 0x73}));
    EXPECT_TRUE(Held("[f30]x", {0x58})) << "[f24] and above test nothing";
    EXPECT_FALSE(Held("[#1ff]", {0xFF}));
}

TEST(IsKeyWatchHeld, AlternativesThatNameNoKeyAreNeverHeld) {
    EXPECT_FALSE(Held("x;", {}));
    EXPECT_FALSE(Held(";x", {}));
    EXPECT_FALSE(Held(";", {}));
    EXPECT_FALSE(Held("[f24]", {}));
    EXPECT_FALSE(Held("[f30]", {0x1E}));
    EXPECT_FALSE(Held("[foo]", {}));
    EXPECT_FALSE(Held("[ctrl][foo]", {0x11}));
    EXPECT_FALSE(Held("[ctrl][#41", {0x11, 0x41})) << "an unclosed token is not a key";
}

TEST(IsKeyWatchHeld, SendOnlyNamesWorkInTheRemainder) {
    EXPECT_TRUE(Held("[ctrl][left]", {0x11, 0x25}));
    EXPECT_TRUE(Held("[ctrl][space]", {0x11, 0x20}));
    EXPECT_TRUE(Held("[alt][lclick]", {0x12, 0x01}));
}

TEST(BadInput, ControlCharactersWithoutAKeyAreSkipped) {
    EXPECT_EQ(Sent(std::string("a\x01\tb\x7f", 5)), "+41 +09 +42 -41 -09 -42 flush");
    EXPECT_EQ(Sent(std::string("\0", 1)), "");
}

TEST(BadInput, MegabytesOfBracketsAreReadInLinearTime) {
    const size_t n = 1 << 19;
    const std::string texts[] = {
        std::string(n, '['),
        std::string(n, ']'),
        std::string(n, ';'),
        "[#" + std::string(n, '9') + "]",
        "[f" + std::string(n, '1') + "]",
        [&] {
            std::string s;
            while (s.size() < n)
                s += "[ctrl][f";
            return s;
        }(),
        [&] {
            std::string s;
            while (s.size() < n)
                s += "[a;[[#]]&01";
            return s;
        }(),
    };
    for (const std::string& text : texts) {
        FakeKeyboard kb;
        keys::SendKeySequence(text, kb);
        kb.hold({0x11, 0xDB, 0xDD});
        keys::IsKeyWatchHeld(text, kb.state, kb);
        std::string copy = text;
        EXPECT_GE(keys::KeyCodeOfText(copy, kb), 0);
    }
}
