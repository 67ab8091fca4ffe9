#pragma once

#include "keys/keyboard.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keys {

// The key sequence language. Texts are UTF-8; invalid bytes are tolerated, never trusted.

// The code of the key that types the first character of `text` (kNoKey when no key does, 0 for empty text).
KeyCode KeyCodeOfChar(std::string_view text, KeyWatcher& keyboard);

// The OR of the codes the text names. Replaces "[[" and "]]" in `text` by their placeholders.
std::int32_t KeyCodeOfText(std::string& text, KeyWatcher& keyboard);

// One key-down / key-up. Codes outside 1..255 send nothing.
void PressKey(std::int64_t code, Keyboard& keyboard);
void ReleaseKey(std::int64_t code, Keyboard& keyboard);

// Types `text` chord by chord: each ";"-separated part is pressed in order, then released in the same order.
// A character that no key types is tapped where it stands in its chord. Returns when everything is sent,
// after any waits the keyboard needs (see Keyboard::charsReadyAt).
void SendKeySequence(std::string_view text, Keyboard& keyboard);

// Types key sequences one after the other, in the order they were queued, without waiting in between:
// where the keyboard needs time before the next character, send() returns and says when to go on, so an
// event loop keeps running meanwhile.
class KeySender {
public:
    using Clock = std::chrono::steady_clock;

    // Reads the sequence with the layout in force now and puts it after those already queued.
    void queue(std::string_view text, Keyboard& keyboard);
    // Sends what can be sent now, for at most about `budget`; stops early only between chords. Returns
    // when to call again, or nothing once every queued sequence is sent.
    std::optional<Clock::time_point> send(Keyboard& keyboard, Clock::duration budget = std::chrono::milliseconds(20));
    bool idle() const { return events_.empty(); }
    // Drops what is not sent yet; keys still down from an unfinished chord go up.
    void abandon(Keyboard& keyboard);

private:
    enum class Step : std::uint8_t { Press, Release, Char, ChordEnd, Flush };
    struct Event {
        Step step;
        char32_t value; // the key code, or the character
    };
    std::deque<Event> events_;
    int held_ = 0;
};

// Whether any ";"-separated alternative of `watch` is held in `state`: the matching rules read straight
// from the text, at every call.
bool IsKeyWatchHeld(std::string_view watch, const KeyState& state, KeyWatcher& keyboard);

// A watch text parsed once, for asking many times: the same answers as IsKeyWatchHeld, without the
// text work. Characters of the remainder are still looked up at each call, so a layout change counts.
class KeyWatch {
public:
    explicit KeyWatch(std::string_view watch);
    bool isHeld(const KeyState& state, KeyWatcher& keyboard) const;

private:
    struct Alternative {
        bool empty = false;                   // names no key: never held
        std::optional<std::int64_t> testCode; // the listed entry tested first, if any
        bool remainderEmpty = false;
        std::int64_t fixedCode = 0; // the remainder's named keys, OR-ed
        std::u32string chars;       // the remainder's characters, lower-cased
    };
    static Alternative Parse(std::u32string_view alternative);
    std::vector<Alternative> alternatives_;
};

} // namespace keys
