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

    void press(KeyCode code) override { events.push_back("+" + hex(code)); }
    void release(KeyCode code) override { events.push_back("-" + hex(code)); }
    void flush() override { events.push_back("flush"); }
    KeyState snapshot() override { return state; }
    void pressChar(char32_t ch) override { events.push_back("+U" + hex(ch)); }
    void releaseChar(char32_t ch) override { events.push_back("-U" + hex(ch)); }

    KeyCode keyCodeOfChar(char32_t ch) override { return UsKeyCodeOfChar(ch); }

    void hold(std::initializer_list<int> codes) {
        for (int c : codes)
            state.down.set(size_t(c));
    }

    // The recorded events, space separated, for compact expectations.
    std::string log() const {
        std::string out;
        for (const std::string& e : events)
            out += (out.empty() ? "" : " ") + e;
        return out;
    }

private:
    static std::string hex(unsigned v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02X", v);
        return buf;
    }
};

} // namespace keys::testing
