#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

namespace keys {

// Virtual-key codes use the Windows numbering (0x00..0xFF): it is what users write in "[#..]"
// tokens and what the stored commands hold. Back-ends map them to their own keys.
using KeyCode = std::uint8_t;

// The code a character gets when no key of the layout types it.
inline constexpr KeyCode kNoKey = 0xFF;

// Which virtual keys (mouse buttons 0x01, 0x02, 0x04 included) are down at one moment.
// On X11 "down now" and "down in this thread's input state" are the same thing, so one set serves both.
struct KeyState {
    std::bitset<256> down;
    // Code 0 and anything outside one byte name no key and are never down.
    bool isDown(std::int64_t code) const { return code > 0 && code < 256 && down.test(size_t(code)); }
};

// The keyboard as the key sequence language needs it. One back-end per desktop (X11 today).
class Keyboard {
public:
    virtual ~Keyboard() = default;

    // One synthetic key-down / key-up; mouse-button codes become button events.
    virtual void press(KeyCode code) = 0;
    virtual void release(KeyCode code) = 0;
    // Hands every queued event to the desktop; called once at the end of a sequence.
    virtual void flush() = 0;

    // Every key's state, read in one go: the key-watch tick answers all its watches from one snapshot.
    virtual KeyState snapshot() = 0;

    // The code of the key that types `ch` on the layout in force, shift state dropped; kNoKey when no key does.
    virtual KeyCode keyCodeOfChar(char32_t ch) = 0;

    // Types a character that no key of the layout produces (keyCodeOfChar gave kNoKey), for instance
    // by lending it a spare key. Back-ends that cannot do this ignore it.
    virtual void pressChar(char32_t ch) {}
    virtual void releaseChar(char32_t ch) {}

    // Set by whoever shows notifications: a back-end that loses the desktop after it opened (a compositor
    // that went away, a device unplugged) says so once through it and goes on without keys.
    std::function<void(const std::string&)> reportProblem;
};

} // namespace keys
