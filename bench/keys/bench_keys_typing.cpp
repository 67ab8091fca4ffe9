// Typing 1,000 characters into a window of another process, next to `xdotool type --delay 0` in the
// same run. Prints figures and whether everything arrived in order; passes or fails on nothing.
#include "keys/keyprobe.h"
#include "keys/keysequence.h"
#include "keys/x11/x11keyboard.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Run {
    double ms;
    bool inOrder;
};

// Types through `type` and waits until the probe window has all of `expected`.
Run Measure(const std::function<void()>& type, const std::vector<std::string>& expected) {
    keys::testing::KeyProbe probe;
    if (!probe.ready()) return {0, false};
    const auto start = Clock::now();
    type();
    const std::vector<std::string> got = probe.read(expected.size(), 20s);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {ms, got == expected};
}

} // namespace

int main() {
    if (!std::getenv("DISPLAY")) {
        std::printf("bench_keys_typing: DISPLAY is not set; run under scripts/with-desktop.sh\n");
        return 0;
    }
    auto keyboard = keys::X11Keyboard::open();
    if (!keyboard) {
        std::printf("bench_keys_typing: cannot open the display\n");
        return 1;
    }
    std::system("setxkbmap us");

    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937 random(7);
    std::string plain;
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) {
        plain += alphabet[random() % alphabet.size()];
        expected.emplace_back(1, plain.back());
    }
    // One chord per character, so that a letter typed twice in a row is released in between.
    std::string sequence;
    for (char c : plain)
        sequence += std::string(sequence.empty() ? "" : ";") + c;
    const std::string xdotool = "xdotool type --delay 0 " + plain;

    std::printf("%-28s %10s %10s\n", "1000 characters", "ms", "in order");
    for (int round = 1; round <= 3; ++round) {
        const Run ours = Measure([&] { keys::SendKeySequence(sequence, *keyboard); }, expected);
        const Run theirs = Measure([&] { std::system(xdotool.c_str()); }, expected);
        std::printf("%-28s %10.1f %10s\n", ("SendKeySequence, round " + std::to_string(round)).c_str(), ours.ms,
                    ours.inOrder ? "yes" : "NO");
        std::printf("%-28s %10.1f %10s\n", ("xdotool type, round " + std::to_string(round)).c_str(), theirs.ms,
                    theirs.inOrder ? "yes" : "NO");
    }
    return 0;
}
