// Cost of one key-watch tick: one keyboard snapshot, then every watch (parsed once) answered from it. Per
// back-end: X11 (with DISPLAY; it costs a round trip) and the input devices (two devices fed through
// pipes, a key pressed and let go on one of them at every tick). Prints figures; passes or fails on nothing.
#include "keys/evdev/evdevwatcher.h"
#include "keys/keysequence.h"
#include "keys/xkb/systemkeymap.h"
#ifdef VORLIX_WITH_X11
#include "keys/x11/x11keyboard.h"

#include <X11/Xlib.h>
#endif

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <linux/input.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kWatches[] = {"[ctrl]y", "[alt][f4]", "x;[shift]z", "[ctrl][shift]s", "[f9]",
                                "[#41]",   "[ctrl]l",   "[esc]",      "[m_play]",       "[ctrl]y;[ctrl]x"};

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// `beforeTick` runs outside the timing: it is the user's typing. `requests` counts what one tick asked of
// the desktop, where that can be counted.
void Measure(const char* name, keys::KeyWatcher& watcher, const std::function<void(int)>& beforeTick,
             const std::function<double(int)>& requests) {
    std::printf("%s\n%-10s %14s %14s %14s %18s\n", name, "watches", "tick us", "snapshot us", "watches us",
                "requests/tick");
    for (const size_t count : {size_t(1), size_t(100), size_t(1000), size_t(10000)}) {
        std::vector<keys::KeyWatch> watches;
        for (size_t i = 0; i < count; ++i)
            watches.emplace_back(kWatches[i % std::size(kWatches)]);
        const int ticks = count >= 1000 ? 300 : 2000;
        std::vector<double> snapshotTimes, watchTimes;
        size_t held = 0;
        requests(-1);
        for (int t = 0; t < ticks; ++t) {
            beforeTick(t);
            const auto t0 = Clock::now();
            const keys::KeyState state = watcher.snapshot();
            const auto t1 = Clock::now();
            for (const keys::KeyWatch& w : watches)
                held += w.isHeld(state, watcher);
            const auto t2 = Clock::now();
            snapshotTimes.push_back(Micros(t1 - t0));
            watchTimes.push_back(Micros(t2 - t1));
        }
        const double snap = Median(snapshotTimes), watch = Median(watchTimes);
        const double asked = requests(ticks);
        std::printf("%-10zu %14.1f %14.1f %14.1f %18s%s\n", count, snap + watch, snap, watch,
                    asked < 0 ? "-" : std::to_string(asked).substr(0, 4).c_str(), held ? "  (some held?)" : "");
    }
}

void InputDevices() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = keys::SystemKeymap(context, keys::KeymapNames{});
    keys::EvdevWatcher watcher(keymap ? keys::XkbLayout(keymap, 0) : keys::XkbLayout(), "/nonexistent");
    if (keymap) xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    int keyboard[2], mouse[2];
    if (pipe2(keyboard, O_NONBLOCK | O_CLOEXEC) != 0 || pipe2(mouse, O_NONBLOCK | O_CLOEXEC) != 0) return;
    watcher.addDevice(keyboard[0], "keyboard");
    watcher.addDevice(mouse[0], "mouse");
    const auto type = [&](int) {
        input_event events[4] = {};
        events[0].type = events[2].type = EV_KEY;
        events[0].code = events[2].code = KEY_Q;
        events[0].value = 1;
        events[1].type = events[3].type = EV_SYN;
        if (::write(keyboard[1], events, sizeof events) != ssize_t(sizeof events)) std::abort();
    };
    Measure("input devices (2 devices, 2 key events a tick)", watcher, type, [](int) { return -1.0; });
    ::close(keyboard[1]);
    ::close(mouse[1]);
}

} // namespace

int main() {
#ifdef VORLIX_WITH_X11
    if (!std::getenv("DISPLAY")) {
        std::printf("X11: DISPLAY is not set; run under scripts/with-desktop.sh\n");
    } else if (auto keyboard = keys::X11Keyboard::open()) {
        unsigned long first = 0;
        Measure(
            "X11", *keyboard, [](int) {},
            [&](int ticks) {
                if (ticks < 0) return first = XNextRequest(keyboard->display()), -1.0;
                return double(XNextRequest(keyboard->display()) - first) / ticks;
            });
    } else {
        std::printf("X11: cannot open the display\n");
    }
#endif
    InputDevices();
    std::printf("medians over the ticks; X11's requests are pipelined and answered in one round trip\n");
    return 0;
}
