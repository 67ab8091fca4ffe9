#pragma once

#include "keys/keyboard.h"
#include "keys/xkb/xkblayout.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace keys {

// Types on a wlroots compositor (sway, Hyprland, river, Wayfire) through a virtual keyboard and a
// virtual pointer of its own. It uploads the user's keymap, read from the seat, so that keys mean what
// the user's layout says; characters no key types are lent spare keys of a keymap of ours. Wayland
// shows no client the keys held elsewhere: snapshot() is always empty.
class WaylandKeyboard final : public Keyboard {
public:
    // Connects to the compositor of WAYLAND_DISPLAY; null, with the reason in `why`, when there is none
    // or it offers no virtual keyboard.
    static std::unique_ptr<WaylandKeyboard> open(std::string* why = nullptr);

    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    void press(KeyCode code) override;
    void release(KeyCode code) override;
    void flush() override;
    KeyState snapshot() override;
    KeyCode keyCodeOfChar(char32_t ch) override;
    void pressChar(char32_t ch) override;
    void releaseChar(char32_t ch) override;

    // The XKB keycode that a virtual key is sent as, 0 when none.
    unsigned keycodeOf(KeyCode code);
    // False once the compositor has gone; from then on nothing is typed.
    bool connected() const { return !lost_; }
    // Keymaps uploaded so far, the user's included.
    int keymapUploads() const { return uploads_; }
    std::string sendsThrough() const override { return "Wayland virtual keyboard"; }

private:
    friend struct WaylandEvents;

    explicit WaylandKeyboard(wl_display* display);
    bool start(std::string* why);

    // Events wait here until flush() (or a full queue), so that one keymap can carry the characters
    // of many lent keys ahead.
    struct Event {
        enum Kind : std::uint8_t { Key, Button, Char } kind;
        bool down;
        KeyCode code;
        char32_t ch;
    };
    struct LentKey {
        unsigned keycode;
        char32_t ch;
    };
    void queue(Event event);
    void sendQueued();
    void sendKey(unsigned keycode, bool down);
    void sendButton(KeyCode code, bool down);
    void sendChar(size_t at);
    void lendKeys(size_t from, bool charsOnly);
    bool longCharRun(size_t from) const;
    std::string userKeymapWith(const std::vector<LentKey>& lent) const;
    bool upload(const std::string& text, const std::vector<LentKey>& lent, bool charsOnly);
    void sendModifiers();
    void request();
    bool roundtrip();
    void readEvents();
    void ensureLayout();
    void releaseAll();
    void lose(const std::string& why);

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* seatKeyboard_ = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    xkb_context* xkb_ = nullptr;
    bool lost_ = false;

    // The user's keymap as the seat last gave it, normalised by libxkbcommon, and what it means.
    std::string userKeymap_;
    bool layoutStale_ = true;
    XkbLayout layout_;
    std::vector<unsigned> spare_;
    std::vector<std::string> spareNames_; // beside spare_: the key's name, empty for a keycode without one

    // The keymap last uploaded, with the state of its modifiers as our keys leave them.
    xkb_keymap* sent_ = nullptr;
    xkb_state* state_ = nullptr;
    std::vector<LentKey> lent_;
    bool charsOnly_ = false; // the keymap sent has lent keys alone
    bool keymapRefused_ = false;
    int uploads_ = 0;

    std::vector<Event> queue_;
    // How often each keycode and button was pressed and not yet released.
    std::array<int, 256> presses_{};
    std::array<int, 3> buttons_{};
    int unsynced_ = 0;
    // Requests that may go out before the pace holds them back.
    double credit_ = 0;
    std::chrono::steady_clock::time_point lastCredit_;
    std::chrono::steady_clock::time_point lastRead_;
    std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
};

} // namespace keys
