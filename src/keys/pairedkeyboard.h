#pragma once

#include "keys/keyboard.h"

#include <memory>

namespace keys {

// One back-end types and another reads the held keys: on Wayland no sender can watch (the compositor
// keeps the key state to itself) and the input devices that can cannot type.
class PairedKeyboard final : public Keyboard {
public:
    PairedKeyboard(std::unique_ptr<Keyboard> sender, std::unique_ptr<KeyWatcher> watcher)
        : sender_(std::move(sender)), watcher_(std::move(watcher)), senderTypes_(!sender_->sendsThrough().empty()) {
        // Either half's trouble reaches whoever listens to the pair, set before or after this.
        const auto forward = [this](const std::string& text) { problem(text); };
        sender_->reportProblem = forward;
        watcher_->reportProblem = forward;
    }

    void press(KeyCode code) override { sender_->press(code); }
    void release(KeyCode code) override { sender_->release(code); }
    void flush() override { sender_->flush(); }
    void pressChar(char32_t ch) override { sender_->pressChar(ch); }
    void releaseChar(char32_t ch) override { sender_->releaseChar(ch); }
    std::chrono::steady_clock::time_point charsReadyAt(std::u32string_view upcoming) override {
        return sender_->charsReadyAt(upcoming);
    }
    KeyState snapshot() override { return watcher_->snapshot(); }

    // The layout that types decides, as typing must hit its keys; with no sender, watches still need the
    // watcher's. Not a fallback per character: a character the sender types on a lent key would else get
    // the code of some other layout's key.
    KeyCode keyCodeOfChar(char32_t ch) override {
        return senderTypes_ ? sender_->keyCodeOfChar(ch) : watcher_->keyCodeOfChar(ch);
    }

    std::string sendsThrough() const override { return sender_->sendsThrough(); }
    std::string watchesThrough() const override { return watcher_->watchesThrough(); }

    Keyboard& sender() { return *sender_; }
    KeyWatcher& watcher() { return *watcher_; }

private:
    std::unique_ptr<Keyboard> sender_;
    std::unique_ptr<KeyWatcher> watcher_;
    bool senderTypes_;
};

} // namespace keys
