#pragma once

#include "keys/keyboard.h"
#include "keys/xkb/xkblayout.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

typedef struct _XDisplay Display;
struct xcb_connection_t;
struct xkb_context;

namespace keys {

// The keyboard of an X11 desktop: XTest types, XQueryKeymap and the pointer state read the keys,
// libxkbcommon tells which layout is in force.
class X11Keyboard final : public Keyboard {
public:
    // Opens a connection of its own, on which it also sees layout changes; null, with the reason in
    // `why`, when there is no display or it cannot take synthetic keys.
    static std::unique_ptr<X11Keyboard> open(std::string* why = nullptr);

    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    void press(KeyCode code) override;
    void release(KeyCode code) override;
    void flush() override;
    KeyState snapshot() override;
    KeyCode keyCodeOfChar(char32_t ch) override;
    void pressChar(char32_t ch) override;
    void releaseChar(char32_t ch) override;
    std::chrono::steady_clock::time_point charsReadyAt(std::u32string_view upcoming) override;
    std::string sendsThrough() const override { return "X11"; }
    std::string watchesThrough() const override { return "X11"; }

    // The X keycode that a virtual key is sent as, 0 when none.
    unsigned keycodeOf(KeyCode code);

    Display* display() const { return display_; }

private:
    // Takes over `display`, which has XTest.
    explicit X11Keyboard(Display* display);
    void fakeKey(KeyCode code, bool down);
    void readLayoutEvents();
    void ensureLayout();
    void returnSpareKeys();

    // A spare key lent to a character; given back by the tick some time after the sequence.
    struct LentKey {
        unsigned keycode;
        char32_t ch;
        int held;
        std::chrono::steady_clock::time_point used; // when it was last pressed
    };
    std::vector<LentKey>::iterator lentTo(char32_t ch);
    // Gives each keycode its keysym (NoSymbol: none) in one go.
    void changeKeys(const std::vector<std::pair<unsigned, unsigned long>>& keys);

    Display* display_;
    xcb_connection_t* xcb_;
    unsigned long root_;
    int xkbDevice_ = -1;
    int xkbEventBase_ = -1;
    xkb_context* xkb_ = nullptr;
    bool layoutStale_ = true;
    XkbLayout layout_;
    std::vector<LentKey> lent_;
    std::chrono::steady_clock::time_point lentUntil_;
    // How often each keycode was pressed and not yet released by this keyboard.
    std::array<int, 256> presses_{};
};

} // namespace keys
