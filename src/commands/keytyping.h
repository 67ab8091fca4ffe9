#pragma once

#include "keys/keysequence.h"

#include <QTimer>
#include <string_view>

namespace keys {
class Keyboard;
}

// Types "Send Key(s)" values from the event loop. A text that makes the keyboard wait (characters that
// no key types, more of them than there are keys to lend) goes out in pieces while the ticks, the tray
// and the hand-over to a second start go on; each sequence still starts after the one before it ends.
class KeyTyping {
public:
    explicit KeyTyping(keys::Keyboard& keyboard);
    // What is not typed yet is dropped, and no key is left down.
    ~KeyTyping();
    KeyTyping(const KeyTyping&) = delete;
    KeyTyping& operator=(const KeyTyping&) = delete;

    void type(std::string_view text);
    // Every text queued is typed.
    bool idle() const { return sender_.idle(); }

private:
    void sendSome();

    keys::Keyboard& keyboard_;
    keys::KeySender sender_;
    QTimer resume_;
};
