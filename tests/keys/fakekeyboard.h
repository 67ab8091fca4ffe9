#pragma once

#include "keys/uskeyboard.h"

#include <cstdio>
#include <string>
#include <vector>

namespace keys::testing {

// A US English keyboard that records what it is asked to type: "+41" is a key-down of 0x41, "-41" its
// key-up, "+U3C9" a character without a key (ω), "flush" the end of a sequence.
class FakeKeyboard : public Keyboard {
public:
    std::vector<std::string> events;
    KeyState state;
    std::string sends = "the test", watches = "the test"; // the names it gives

    using KeyWatcher::problem;

    void press(KeyCode code) override { add("+%02X", code); }
    void release(KeyCode code) override { add("-%02X", code); }
    void pressChar(char32_t ch) override { add("+U%02X", ch); }
    void releaseChar(char32_t ch) override { add("-U%02X", ch); }
    void flush() override { events.push_back("flush"); }
    KeyState snapshot() override { return state; }
    KeyCode keyCodeOfChar(char32_t ch) override { return UsKeyCodeOfChar(ch); }
    std::string sendsThrough() const override { return sends; }
    std::string watchesThrough() const override { return watches; }

    void hold(std::initializer_list<int> codes) {
        for (int c : codes)
            state.down.set(size_t(c));
    }

    // The recorded events, space separated.
    std::string log() const {
        std::string out;
        for (const std::string& e : events)
            out += (out.empty() ? "" : " ") + e;
        return out;
    }
    void add(const char* format, unsigned value) {
        char text[16];
        std::snprintf(text, sizeof text, format, value);
        events.push_back(text);
    }
};

} // namespace keys::testing
