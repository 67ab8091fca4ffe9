#include "keys/x11/x11keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace keys {
namespace {

// A client re-reads the keymap only when it handles the key; restoring sooner would show it the old map.
constexpr auto kRemapSettleTime = std::chrono::milliseconds(40);
// How long keys lent to characters stay lent after a sequence. The receiving window turns a key
// into a character only when it reads the event, and a busy one may read it after a mapping that was
// already taken back, typing "?" instead.
constexpr auto kLendTime = std::chrono::seconds(2);

unsigned ButtonOf(KeyCode code) {
    switch (code) {
    case 0x01:
        return 1;
    case 0x04:
        return 2;
    case 0x02:
        return 3;
    default:
        return 0;
    }
}

} // namespace

std::unique_ptr<X11Keyboard> X11Keyboard::open(std::string* why) {
    const char* name = std::getenv("DISPLAY");
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        if (why)
            *why = name && *name ? "the X display " + std::string(name) + " cannot be opened" : "no X display is set";
        return nullptr;
    }
    int event, error, major, minor;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        if (why) *why = "the X server has no XTest extension for synthetic keys";
        return nullptr;
    }
    return std::unique_ptr<X11Keyboard>(new X11Keyboard(display));
}

X11Keyboard::X11Keyboard(Display* display)
    : display_(display), xcb_(XGetXCBConnection(display)), root_(DefaultRootWindow(display)) {
    int error, major, minor;
    if (xkb_x11_setup_xkb_extension(xcb_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        xkbDevice_ = xkb_x11_get_core_keyboard_device_id(xcb_);
    xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    int opcode;
    major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(display_, &opcode, &xkbEventBase_, &error, &major, &minor)) {
        const unsigned long events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask | XkbStateNotifyMask;
        XkbSelectEvents(display_, XkbUseCoreKbd, events, events);
        // Of the state, only a switch of layout group matters; modifiers change at every key.
        XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask, XkbGroupStateMask);
    }
}

X11Keyboard::~X11Keyboard() {
    returnSpareKeys();
    if (xkb_) xkb_context_unref(xkb_);
    XCloseDisplay(display_);
}

void X11Keyboard::ensureLayout() {
    if (!layoutStale_ || xkbDevice_ < 0 || !xkb_) return;
    layoutStale_ = false;
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(xkb_, xcb_, xkbDevice_, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return;
    if (xkb_state* state = xkb_x11_state_new_from_device(keymap, xcb_, xkbDevice_)) {
        layout_ = XkbLayout(keymap, xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
        xkb_state_unref(state);
    }
    xkb_keymap_unref(keymap);
}

void X11Keyboard::readLayoutEvents() {
    // Only events already received: reading them costs no round trip.
    while (XEventsQueued(display_, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify || (xkbEventBase_ >= 0 && event.type == xkbEventBase_)) layoutStale_ = true;
    }
}

void X11Keyboard::fakeKey(KeyCode code, bool down) {
    if (const unsigned button = ButtonOf(code)) {
        XTestFakeButtonEvent(display_, button, down, CurrentTime);
        return;
    }
    ensureLayout();
    const unsigned keycode = layout_.keycodeOf(code);
    if (!keycode) return;
    // The server drops a press of a key that is already down, yet a chord may name a key twice
    // ("hello"): the key is let go and pressed again, as autorepeat does, and goes up with its last release.
    int& presses = presses_[keycode];
    if (down) {
        if (presses++ > 0) XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
        XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
    } else if (presses == 0 || --presses == 0) {
        XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    }
}

void X11Keyboard::press(KeyCode code) {
    fakeKey(code, true);
}

void X11Keyboard::release(KeyCode code) {
    fakeKey(code, false);
}

void X11Keyboard::flush() {
    // A sync, not a flush: another client asking for the key state right after must see these keys.
    XSync(display_, False);
    if (!lent_.empty()) lentUntil_ = std::chrono::steady_clock::now() + kLendTime;
}

KeyState X11Keyboard::snapshot() {
    // Both requests go out together, so the tick costs one round trip.
    const xcb_query_keymap_cookie_t keymapCookie = xcb_query_keymap(xcb_);
    const xcb_query_pointer_cookie_t pointerCookie = xcb_query_pointer(xcb_, xcb_window_t(root_));
    xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(xcb_, keymapCookie, nullptr);
    xcb_query_pointer_reply_t* pointer = xcb_query_pointer_reply(xcb_, pointerCookie, nullptr);
    readLayoutEvents();
    ensureLayout();

    KeyState state;
    if (keymap) {
        for (const auto& [code, keycode] : layout_.stateKeys())
            if (keymap->keys[keycode / 8] & (1u << (keycode % 8))) state.down.set(code);
    }
    if (pointer) {
        state.down.set(0x01, pointer->mask & XCB_BUTTON_MASK_1);
        state.down.set(0x04, pointer->mask & XCB_BUTTON_MASK_2);
        state.down.set(0x02, pointer->mask & XCB_BUTTON_MASK_3);
    }
    std::free(keymap);
    std::free(pointer);
    // The tick is also when keys lent long enough ago are given back.
    if (!lent_.empty() && std::chrono::steady_clock::now() >= lentUntil_ &&
        std::none_of(lent_.begin(), lent_.end(), [](const LentKey& k) { return k.held > 0; }))
        returnSpareKeys();
    return state;
}

KeyCode X11Keyboard::keyCodeOfChar(char32_t ch) {
    ensureLayout();
    return layout_.codeOfChar(ch);
}

unsigned X11Keyboard::keycodeOf(KeyCode code) {
    ensureLayout();
    return layout_.keycodeOf(code);
}

void X11Keyboard::pressChar(char32_t ch) {
    // Control characters have no business on a borrowed key.
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0)) return;
    const xkb_keysym_t sym = xkb_utf32_to_keysym(ch);
    if (sym == XKB_KEY_NoSymbol) return;
    ensureLayout();
    auto lent = std::find_if(lent_.begin(), lent_.end(), [&](const LentKey& k) { return k.ch == ch; });
    if (lent == lent_.end()) {
        const auto isFree = [&](unsigned kc) {
            return std::none_of(lent_.begin(), lent_.end(), [&](const LentKey& k) { return k.keycode == kc; });
        };
        const std::vector<unsigned>& spare = layout_.spareKeycodes();
        auto free = std::find_if(spare.begin(), spare.end(), isFree);
        if (free == spare.end()) {
            // Every spare key is lent: take them all back first, unless one is still held in this chord.
            if (std::any_of(lent_.begin(), lent_.end(), [](const LentKey& k) { return k.held > 0; })) return;
            returnSpareKeys();
            free = spare.begin();
            if (free == spare.end()) return;
        }
        // The same symbol on both levels, or Shift held by the user would change its case.
        KeySym syms[2] = {sym, sym};
        XChangeKeyboardMapping(display_, int(*free), 2, syms, 1);
        lent = lent_.insert(lent_.end(), LentKey{*free, ch, 0});
    }
    if (lent->held++ > 0) XTestFakeKeyEvent(display_, lent->keycode, False, CurrentTime);
    XTestFakeKeyEvent(display_, lent->keycode, True, CurrentTime);
}

void X11Keyboard::releaseChar(char32_t ch) {
    auto lent = std::find_if(lent_.begin(), lent_.end(), [&](const LentKey& k) { return k.ch == ch && k.held > 0; });
    if (lent == lent_.end()) return;
    if (--lent->held == 0) XTestFakeKeyEvent(display_, lent->keycode, False, CurrentTime);
}

void X11Keyboard::returnSpareKeys() {
    if (lent_.empty()) return;
    XSync(display_, False);
    std::this_thread::sleep_for(kRemapSettleTime);
    for (const LentKey& k : lent_) {
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(display_, int(k.keycode), 1, &none, 1);
    }
    lent_.clear();
    XSync(display_, False);
}

} // namespace keys
