// Typing into a Wayland window of another process through a real compositor: run under scripts/with-sway.sh.
#include "keys/keyprobe.h"
#include "keys/keysequence.h"
#include "keys/wayland/waylandkeyboard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <signal.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::string Utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6)), out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12)), out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18)), out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
    }
    return out;
}

// `count` characters drawn from `alphabet`, as a sequence of one chord each and as the lines the probe
// prints for them.
struct Text {
    std::string sequence;
    std::vector<std::string> lines;
};
Text RandomText(std::u32string_view alphabet, size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Text text;
    for (size_t i = 0; i < count; ++i) {
        const std::string ch = Utf8(alphabet[random() % alphabet.size()]);
        text.sequence += (i ? ";" : "") + ch;
        text.lines.push_back(ch);
    }
    return text;
}

// Where the lines first differ, for a readable failure.
std::string FirstDifference(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    for (size_t i = 0; i < std::max(got.size(), want.size()); ++i)
        if (i >= got.size() || i >= want.size() || got[i] != want[i])
            return "at line " + std::to_string(i) + ": got \"" + (i < got.size() ? got[i] : "(nothing)") +
                   "\", want \"" + (i < want.size() ? want[i] : "(nothing)") + "\"; " + std::to_string(got.size()) +
                   " of " + std::to_string(want.size()) + " lines came";
    return "none";
}

bool Sway(const std::string& command) {
    return std::system(("swaymsg -q '" + command + "'").c_str()) == 0;
}

class WaylandKeyboardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "wayland", 1);
        if (std::getenv("WAYLAND_DISPLAY")) shared = keys::WaylandKeyboard::open(&why);
    }
    static void TearDownTestSuite() { shared.reset(); }

    void SetUp() override {
        if (!std::getenv("WAYLAND_DISPLAY"))
            GTEST_SKIP() << "WAYLAND_DISPLAY is not set: run under scripts/with-sway.sh";
        ASSERT_TRUE(shared) << why;
        kb = shared.get();
        kb->reportProblem = [this](const std::string& problem) { problems.push_back(problem); };
    }
    void TearDown() override {
        if (kb) kb->reportProblem = nullptr;
    }

    void setLayout(const std::string& layout) {
        ASSERT_TRUE(Sway("input type:keyboard xkb_layout " + layout)) << layout;
        kb->flush(); // reads the keymap event
    }

    // The probe receives exactly `lines` for `sequence`, and no more within a moment.
    void expectTyped(const std::string& sequence, const std::vector<std::string>& lines,
                     std::chrono::milliseconds timeout = 10s) {
        keys::testing::KeyProbe probe(VORLIX_WAYLANDPROBE);
        ASSERT_TRUE(probe.ready()) << "the probe window did not get the focus";
        keys::SendKeySequence(sequence, *kb);
        std::vector<std::string> got = probe.read(lines.size(), timeout);
        for (const std::string& more : probe.read(1, 200ms))
            got.push_back(more);
        EXPECT_TRUE(got == lines) << FirstDifference(got, lines);
    }

    static inline std::unique_ptr<keys::WaylandKeyboard> shared;
    static inline std::string why;
    keys::WaylandKeyboard* kb = nullptr;
    std::vector<std::string> problems;
};

// Outside the US layout, some outside French and German too, one outside the Basic Plane.
constexpr std::u32string_view kForeign = U"ωΩλ漢字→✓€😀";
constexpr std::u32string_view kAscii = U"abcdefghijklmnopqrstuvwxyz0123456789-=,./'`\\";

TEST_F(WaylandKeyboardTest, AnotherProcessReceivesExactlyWhatWasTyped) {
    setLayout("us");
    expectTyped("hello;[shift]a;[f5]", {"h", "e", "l", "l", "o", "[Shift]", "A", "[F5]"});
    expectTyped("a b;[shift]2;[enter];[[;]];;;ω;[shift]ω",
                {"a", " ", "b", "[Shift]", "@", "[Return]", "[", "]", ";", "ω", "[Shift]", "ω"});
    const Text text = RandomText(std::u32string(kAscii) + std::u32string(kForeign), 1000, 1);
    expectTyped(text.sequence, text.lines);
    // More characters in a row than one keymap has keys for, then keys of the layout again.
    std::u32string cjk;
    for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c)
        cjk += c;
    Text run = RandomText(cjk, 600, 5);
    run.sequence += ";[shift]a;x;漢[shift]b";
    run.lines.insert(run.lines.end(), {"[Shift]", "A", "x", "漢", "[Shift]", "B"});
    expectTyped(run.sequence, run.lines);
    EXPECT_TRUE(problems.empty());
}

TEST_F(WaylandKeyboardTest, OtherLayoutsAreFollowed) {
    // Letters, and characters that no key of the three layouts types at any level.
    const Text text = RandomText(U"abcdefghijklmnopqrstuvwxyz,λ漢字✓😀", 1000, 2);
    for (const char* layout : {"fr", "de", "us"}) {
        SCOPED_TRACE(layout);
        setLayout(layout);
        expectTyped(text.sequence, text.lines);
        expectTyped("qwaz;y", {"q", "w", "a", "z", "y"});
    }
    setLayout("de");
    EXPECT_EQ(kb->keycodeOf('Z'), 29u) << "the German Z sits where the US Y does";
    expectTyped("ß;ü;[shift]ü", {"ß", "ü", "[Shift]", "Ü"});
    setLayout("us");
}

TEST_F(WaylandKeyboardTest, MouseButtonsReachTheWindowUnderThePointer) {
    keys::testing::KeyProbe probe(VORLIX_WAYLANDPROBE);
    ASSERT_TRUE(probe.ready());
    ASSERT_TRUE(Sway("seat seat0 cursor set 100 100"));
    keys::SendKeySequence("[lclick];[rclick];[mclick];x", *kb);
    EXPECT_EQ(probe.read(4, 5s), (std::vector<std::string>{"button 1", "button 2", "button 4", "x"}));
}

TEST_F(WaylandKeyboardTest, AHundredThousandCharactersArriveInOrder) {
    const Text text = RandomText(std::u32string(kAscii) + std::u32string(kForeign), 100000, 3);
    expectTyped(text.sequence, text.lines, 120s);
    EXPECT_TRUE(problems.empty());
}

TEST(WaylandKeyboardOpen, SaysWhyWithoutACompositor) {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const std::string saved = display ? display : "";
    std::string why;
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(keys::WaylandKeyboard::open(&why));
    EXPECT_EQ(why, "no Wayland display is set");
    setenv("WAYLAND_DISPLAY", "vorlix-no-such-display", 1);
    EXPECT_FALSE(keys::WaylandKeyboard::open(&why));
    EXPECT_EQ(why, "the Wayland compositor of vorlix-no-such-display cannot be reached");
    if (display)
        setenv("WAYLAND_DISPLAY", saved.c_str(), 1);
    else
        unsetenv("WAYLAND_DISPLAY");
}

// Run alone (its own session): the compositor is killed while a long sequence is typed.
TEST(WaylandKeyboardGone, TheCompositorGoingAwayIsSaidOnceAndTypingGoesOnAsNothing) {
    const char* sway = std::getenv("VORLIX_SWAY_PID");
    if (!sway || !std::getenv("WAYLAND_DISPLAY")) GTEST_SKIP() << "run under scripts/with-sway.sh";
    std::string why;
    auto kb = keys::WaylandKeyboard::open(&why);
    ASSERT_TRUE(kb) << why;
    std::vector<std::string> problems;
    kb->reportProblem = [&](const std::string& problem) { problems.push_back(problem); };
    const Text text = RandomText(std::u32string(kAscii) + std::u32string(kForeign), 100000, 4);
    std::thread killer([&] {
        std::this_thread::sleep_for(100ms);
        kill(pid_t(std::atoi(sway)), SIGKILL);
    });
    keys::SendKeySequence(text.sequence, *kb);
    killer.join();
    keys::SendKeySequence(text.sequence, *kb);
    keys::SendKeySequence("[shift]a", *kb);
    EXPECT_FALSE(kb->connected());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "The Wayland compositor closed the connection: keys are not typed any more");
    kb.reset();
    EXPECT_EQ(problems.size(), 1u);
}

} // namespace
