// Cost of one key-watch tick: one keyboard snapshot, then every watch (parsed once) answered from it.
// Prints figures; passes or fails on nothing.
#include "keys/keysequence.h"
#include "keys/x11/x11keyboard.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kWatches[] = {"[ctrl]y", "[alt][f4]", "x;[shift]z", "[ctrl][shift]s", "[f9]",
                                "[#41]",   "[ctrl]l",   "[esc]",      "[m_play]",       "[ctrl]y;[ctrl]x"};

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

} // namespace

int main() {
    if (!std::getenv("DISPLAY")) {
        std::printf("bench_keys_tick: DISPLAY is not set; run under scripts/with-desktop.sh\n");
        return 0;
    }
    auto keyboard = keys::X11Keyboard::open();
    if (!keyboard) {
        std::printf("bench_keys_tick: cannot open the display\n");
        return 1;
    }
    std::printf("%-10s %14s %14s %14s %18s\n", "watches", "tick us", "snapshot us", "watches us", "requests/tick");
    for (const size_t count : {size_t(1), size_t(100), size_t(1000), size_t(10000)}) {
        std::vector<keys::KeyWatch> watches;
        for (size_t i = 0; i < count; ++i)
            watches.emplace_back(kWatches[i % std::size(kWatches)]);
        const int ticks = count >= 1000 ? 300 : 2000;
        std::vector<double> snapshotTimes, watchTimes;
        size_t held = 0;
        const unsigned long firstRequest = XNextRequest(keyboard->display());
        for (int t = 0; t < ticks; ++t) {
            const auto t0 = Clock::now();
            const keys::KeyState state = keyboard->snapshot();
            const auto t1 = Clock::now();
            for (const keys::KeyWatch& w : watches)
                held += w.isHeld(state, *keyboard);
            const auto t2 = Clock::now();
            snapshotTimes.push_back(Micros(t1 - t0));
            watchTimes.push_back(Micros(t2 - t1));
        }
        const double requests = double(XNextRequest(keyboard->display()) - firstRequest) / ticks;
        const auto median = [](std::vector<double> v) {
            std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
            return v[v.size() / 2];
        };
        const double snap = median(snapshotTimes), watch = median(watchTimes);
        std::printf("%-10zu %14.1f %14.1f %14.1f %18.1f%s\n", count, snap + watch, snap, watch, requests,
                    held ? "  (some held?)" : "");
    }
    std::printf("medians over the ticks; requests are pipelined and answered in one round trip\n");
    return 0;
}
