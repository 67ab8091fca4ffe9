// Typing 1,000 characters into a window of another process, through each keyboard back-end present
// (X11 with DISPLAY, Wayland with WAYLAND_DISPLAY), and next to `xdotool type --delay 0` on X11. The same
// texts go to each: plain characters, and CJK characters that no key types; the same Qt window receives
// them on both desktops where it is built. Prints figures and whether everything arrived in order;
// passes or fails on nothing. Both side by side:
//   scripts/with-desktop.sh --no-audio scripts/with-sway.sh --keep-display build/bench/keys/bench_keys_typing
#include "keys/keyprobe.h"
#include "keys/keysequence.h"
#ifdef VORLIX_WITH_X11
#include "keys/x11/x11keyboard.h"
#endif
#ifdef VORLIX_WITH_WAYLAND
#include "keys/wayland/waylandkeyboard.h"
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
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
    if (std::getenv("DISPLAY")) {
        if (auto x11 = keys::X11Keyboard::open()) {
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
                        VORLIX_KEYPROBE, [&] { keys::SendKeySequence(text.sequence, *x11); }, names));
                    runs[text.name]["xdotool"].push_back(Measure(
                        VORLIX_KEYPROBE, [&] { std::system(xdotool.c_str()); }, names));
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
    return 0;
}
