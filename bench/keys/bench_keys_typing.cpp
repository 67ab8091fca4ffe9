// Typing 1,000 characters into a window of another process, through each keyboard back-end present
// (X11 with DISPLAY, Wayland with WAYLAND_DISPLAY), and next to `xdotool type --delay 0` on X11. The same
// texts go to each: plain characters, and CJK characters that no key types; the same Qt window receives
// them on both desktops where it is built. Prints figures and whether everything arrived in order;
// passes or fails on nothing. Then CJK characters typed the agent's way, from the event loop while a
// tick runs, on X11. Both side by side:
//   scripts/with-desktop.sh --no-audio scripts/with-sway.sh --keep-display build/bench/keys/bench_keys_typing
#include "commands/keytyping.h"
#include "keys/keyprobe.h"
#include "keys/keysequence.h"
#ifdef VORLIX_WITH_X11
#include "keys/x11/x11keyboard.h"
#endif
#ifdef VORLIX_WITH_WAYLAND
#include "keys/wayland/waylandkeyboard.h"
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Text {
    std::string name;
    std::string sequence; // one chord per character, so that a letter typed twice is released in between
    std::string plain;
    std::vector<std::string> lines; // what each probe prints
};

// Characters the X11 probe names by keysym: letters and digits are their own names.
Text MakeText(const std::string& name, const std::vector<std::string>& alphabet, unsigned seed) {
    std::mt19937 random(seed);
    Text text{name, {}, {}, {}};
    for (int i = 0; i < 1000; ++i) {
        const std::string& ch = alphabet[random() % alphabet.size()];
        text.sequence += (i ? ";" : "") + ch;
        text.plain += ch;
        text.lines.push_back(ch);
    }
    return text;
}

struct Run {
    double ms = 0;
    bool inOrder = false;
};

// Types through `type` and waits until the probe window has all of `expected`.
Run Measure(const char* probeProgram, const std::function<void()>& type, const std::vector<std::string>& expected) {
    keys::testing::KeyProbe probe(probeProgram);
    if (!probe.ready()) return {};
    const auto start = Clock::now();
    type();
    const std::vector<std::string> got = probe.read(expected.size(), 30s);
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), got == expected};
}

// The X11 probe names CJK characters by keysym (U6F22); the Wayland one prints them.
std::vector<std::string> KeysymNames(const std::vector<std::string>& lines) {
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        if (line.size() == 1) {
            names.push_back(line);
            continue;
        }
        const auto* s = reinterpret_cast<const unsigned char*>(line.data());
        const unsigned cp = ((s[0] & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        char name[16];
        std::snprintf(name, sizeof name, "U%04X", cp);
        names.push_back(name);
    }
    return names;
}

// Characters that no key types, the agent's way: typed from the event loop while a 100 ms timer ticks as
// the agent's does. Figures: time until the window has them all, whether they came in order, and the
// longest the tick was held up (its longest gap past 100 ms).
std::string Utf8(char32_t c) {
    return {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
}

void TypeWithTheTickRunning(keys::Keyboard& keyboard, bool blocking, const std::string& sequence,
                            const std::vector<std::string>& expected, const char* label) {
    keys::testing::KeyProbe probe;
    if (!probe.ready()) {
        std::printf("%-40s the probe window did not get the focus\n", label);
        return;
    }
    KeyTyping typing(keyboard);
    std::vector<std::string> got;
    QElapsedTimer clock, sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        keyboard.snapshot(); // what the agent's tick does first
    });
    QEventLoop loop;
    QTimer reader; // the probe's lines, a few at a time, without holding up the loop
    QObject::connect(&reader, &QTimer::timeout, [&] {
        for (std::string& line : probe.read(expected.size() - got.size(), std::chrono::milliseconds(1)))
            got.push_back(std::move(line));
        if (got.size() == expected.size() || clock.elapsed() > 60000) loop.quit();
    });
    clock.start();
    sinceTick.start();
    tick.start(100);
    reader.start(5);
    // The first tick's gap counts from here: typing that blocks holds it up from the start.
    QTimer::singleShot(0, [&] { blocking ? keys::SendKeySequence(sequence, keyboard) : typing.type(sequence); });
    loop.exec();
    const double ms = double(clock.elapsed());
    std::printf("%-40s %10.1f %10s %14lld\n", label, ms, got == expected ? "yes" : "NO",
                (long long)std::max<qint64>(0, longestGap - 100));
}

void CharactersWithoutKeys(keys::Keyboard& keyboard) {
    int argc = 1;
    char name[] = "bench_keys_typing";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::printf("\n%-40s %10s %10s %14s\n", "1000 CJK characters, one a chord", "ms", "in order", "tick held ms");
    std::mt19937 random(11);
    for (int distinct : {1000, 100}) {
        std::string sequence;
        std::vector<std::string> expected;
        for (int i = 0; i < 1000; ++i) {
            const char32_t c = 0x4E00 + char32_t(distinct == 1000 ? i : int(random() % unsigned(distinct)));
            sequence += (sequence.empty() ? "" : ";") + Utf8(c);
            char text[16];
            std::snprintf(text, sizeof text, "U%04X", unsigned(c));
            expected.emplace_back(text);
        }
        for (bool blocking : {false, true}) {
            const std::string label = std::to_string(distinct) + " different, " +
                                      (blocking ? "SendKeySequence (blocks)" : "from the event loop");
            TypeWithTheTickRunning(keyboard, blocking, sequence, expected, label.c_str());
        }
    }
}

} // namespace

int main() {
    const std::vector<std::string> plainChars = [] {
        std::vector<std::string> v;
        for (char c : std::string("abcdefghijklmnopqrstuvwxyz0123456789"))
            v.emplace_back(1, c);
        return v;
    }();
    // 200 common CJK characters, none on any key.
    const std::vector<std::string> cjkChars = [] {
        std::vector<std::string> v;
        for (char32_t c = 0x4E00; c < 0x4E00 + 200; ++c)
            v.push_back({char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))});
        return v;
    }();
    const Text texts[] = {MakeText("1000 characters", plainChars, 7), MakeText("1000 CJK characters", cjkChars, 8)};

    // Figures by text, then by column.
    std::vector<std::string> columns;
    std::map<std::string, std::map<std::string, std::vector<Run>>> runs;
    constexpr int kRounds = 3;

#ifdef VORLIX_WITH_X11
    std::unique_ptr<keys::X11Keyboard> x11;
    if (std::getenv("DISPLAY")) {
        if ((x11 = keys::X11Keyboard::open())) {
            std::system("setxkbmap us");
            columns.insert(columns.end(), {"X11", "xdotool"});
#ifdef VORLIX_WAYLANDPROBE
            const char* probe = VORLIX_WAYLANDPROBE;
            setenv("QT_QPA_PLATFORM", "xcb", 1);
#else
            const char* probe = VORLIX_KEYPROBE;
#endif
            for (const Text& text : texts) {
                const std::vector<std::string> names =
                    probe == std::string(VORLIX_KEYPROBE) ? KeysymNames(text.lines) : text.lines;
                const std::string xdotool = "xdotool type --delay 0 '" + text.plain + "'";
                for (int round = 0; round < kRounds; ++round) {
                    runs[text.name]["X11"].push_back(Measure(
                        probe, [&] { keys::SendKeySequence(text.sequence, *x11); }, names));
                    runs[text.name]["xdotool"].push_back(Measure(
                        probe, [&] { std::system(xdotool.c_str()); }, names));
                }
            }
        }
    }
#endif
#ifdef VORLIX_WITH_WAYLAND
    if (std::getenv("WAYLAND_DISPLAY")) {
        std::string why;
        if (auto wayland = keys::WaylandKeyboard::open(&why)) {
            setenv("QT_QPA_PLATFORM", "wayland", 1);
            columns.push_back("Wayland");
            for (const Text& text : texts)
                for (int round = 0; round < kRounds; ++round)
                    runs[text.name]["Wayland"].push_back(Measure(
                        VORLIX_WAYLANDPROBE, [&] { keys::SendKeySequence(text.sequence, *wayland); }, text.lines));
            std::printf("Wayland: %d keymaps uploaded\n", wayland->keymapUploads());
        } else {
            std::printf("Wayland: %s\n", why.c_str());
        }
    }
#endif
    if (columns.empty()) {
        std::printf("bench_keys_typing: no back-end could open; run under scripts/with-desktop.sh and/or "
                    "scripts/with-sway.sh\n");
        return 0;
    }

    std::printf("%-22s", "ms (in order?)");
    for (const std::string& c : columns)
        std::printf(" %16s", c.c_str());
    std::printf("\n");
    for (const Text& text : texts)
        for (int round = 0; round < kRounds; ++round) {
            std::printf("%-22s", (text.name + " #" + std::to_string(round + 1)).c_str());
            for (const std::string& c : columns) {
                const Run& r = runs[text.name][c][size_t(round)];
                std::printf(" %10.1f (%s)", r.ms, r.inOrder ? "yes" : " NO");
            }
            std::printf("\n");
        }
#ifdef VORLIX_WITH_X11
    if (x11) CharactersWithoutKeys(*x11);
#endif
    return 0;
}
