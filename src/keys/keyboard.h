#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace keys {

// Virtual-key codes use the Windows numbering (0x00..0xFF): it is what users write in "[#..]"
// tokens and what the stored commands hold. Back-ends map them to their own keys.
using KeyCode = std::uint8_t;

// The code a character gets when no key of the layout types it.
inline constexpr KeyCode kNoKey = 0xFF;

// Which virtual keys (mouse buttons 0x01, 0x02, 0x04 included) are down at one moment.
// On the desktops we read, "down now" and "down in this thread's input state" are the same thing, so one
// set serves both.
struct KeyState {
    std::bitset<256> down;
    // Code 0 and anything outside one byte name no key and are never down.
    bool isDown(std::int64_t code) const { return code > 0 && code < 256 && down.test(size_t(code)); }
};

// The half of a keyboard that reads which keys are held. X11 can be asked at any time; the Linux input
// devices only tell what changed, so a watcher fed by events keeps the state itself between calls.
class KeyWatcher {
public:
    virtual ~KeyWatcher() = default;

    // Every key's state, read in one go: the key-watch tick answers all its watches from one snapshot,
    // ten times a second. A watcher fed by events first takes in, without waiting, what arrived since
    // the last call. One that cannot watch answers that nothing is held.
    virtual KeyState snapshot() = 0;

    // The code of the key that types `ch` on the layout in force, shift state dropped; kNoKey when no
    // key does. Watches name keys by their characters, so a watcher knows this as well as a sender.
    virtual KeyCode keyCodeOfChar(char32_t ch) = 0;

    // Where held keys are read from, as the About page names it ("X11"); empty when this does not watch.
    virtual std::string watchesThrough() const { return {}; }

    // Set by whoever shows notifications: a back-end that loses the desktop after it opened (a compositor
    // that went away, a device unplugged) says so once through it and goes on without keys.
    std::function<void(const std::string&)> reportProblem;

protected:
    void problem(const std::string& text) const {
        if (reportProblem) reportProblem(text);
    }
};

// The keyboard as the key sequence language needs it: it types, and it reads held keys. One back-end
// per desktop does both (X11), or a sender is paired with a watcher (see PairedKeyboard).
class Keyboard : public KeyWatcher {
public:
    // One synthetic key-down / key-up; mouse-button codes become button events.
    virtual void press(KeyCode code) = 0;
    virtual void release(KeyCode code) = 0;
    // Hands every queued event to the desktop; called once at the end of a sequence.
    virtual void flush() = 0;

    // Types a character that no key of the layout produces (keyCodeOfChar gave kNoKey), for instance
    // by lending it a spare key. Back-ends that cannot do this ignore it.
    virtual void pressChar(char32_t ch) {}
    virtual void releaseChar(char32_t ch) {}
    // When pressChar can take the first of `upcoming`, the characters without a key that are typed next,
    // in order. A back-end lending keys may lend them to as many of those as it can in one go; one that
    // must first take a lent key back from another character waits until the windows have read the keys
    // typed with it. A time not in the future: now.
    virtual std::chrono::steady_clock::time_point charsReadyAt(std::u32string_view upcoming) { return {}; }

    // What keys are typed through, as the About page names it ("X11"); empty when this does not type.
    virtual std::string sendsThrough() const { return {}; }
};

} // namespace keys
