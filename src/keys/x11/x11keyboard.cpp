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
#include <span>
#include <thread>

namespace keys {
namespace {

// A client re-reads the keymap only when it handles the key; changing a key's symbol sooner would show it
// the new symbol for a key typed with the old one.
constexpr auto kRemapSettleTime = std::chrono::milliseconds(40);
// Given back at the end of the run, the lent keys may have been typed just before.
constexpr auto kReturnSettleTime = std::chrono::milliseconds(40);
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

namespace {
// Control characters have no business on a borrowed key.
xkb_keysym_t LendableSym(char32_t ch) {
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0)) return XKB_KEY_NoSymbol;
    return xkb_utf32_to_keysym(ch);
}
} // namespace

std::vector<X11Keyboard::LentKey>::iterator X11Keyboard::lentTo(char32_t ch) {
    return std::find_if(lent_.begin(), lent_.end(), [&](const LentKey& k) { return k.ch == ch; });
}

std::chrono::steady_clock::time_point X11Keyboard::charsReadyAt(std::u32string_view upcoming) {
    if (upcoming.empty() || LendableSym(upcoming.front()) == XKB_KEY_NoSymbol ||
        lentTo(upcoming.front()) != lent_.end())
        return {};
    ensureLayout();
    std::vector<unsigned> free;
    for (unsigned keycode : layout_.spareKeycodes())
        if (std::none_of(lent_.begin(), lent_.end(), [&](const LentKey& k) { return k.keycode == keycode; }))
            free.push_back(keycode);
    // The batch: the different characters from the first on, as many as there are keys to lend. Those
    // already lent keep their keys; the others get free keys, or keys taken back from other characters.
    const size_t keys = free.size() + lent_.size();
    std::u32string batch, keep;
    for (char32_t ch : upcoming) {
        if (batch.size() + keep.size() >= keys) break;
        if (LendableSym(ch) == XKB_KEY_NoSymbol || batch.find(ch) != batch.npos || keep.find(ch) != keep.npos) continue;
        (lentTo(ch) != lent_.end() ? keep : batch).push_back(ch);
    }
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::pair<unsigned, KeySym>> changes;
    for (size_t i = 0; i < batch.size(); ++i) {
        auto key = lent_.end();
        if (i < free.size()) {
            key = lent_.insert(lent_.end(), LentKey{free[i], 0, 0, {}});
        } else {
            // The one unused for longest, that this batch does not need and that no chord still holds.
            for (auto k = lent_.begin(); k != lent_.end(); ++k)
                if (k->held == 0 && k->used < now && keep.find(k->ch) == keep.npos &&
                    (key == lent_.end() || k->used < key->used))
                    key = k;
            if (key == lent_.end()) break;
            // Only once the windows have read the keys typed with it: they read the mapping late.
            if (key->used + kRemapSettleTime > now) {
                if (i == 0) return key->used + kRemapSettleTime;
                break;
            }
        }
        changes.emplace_back(key->keycode, LendableSym(batch[i]));
        key->ch = batch[i];
        key->used = now;
    }
    changeKeys(changes);
    return {};
}

void X11Keyboard::changeKeys(const std::vector<std::pair<unsigned, unsigned long>>& keys) {
    if (keys.empty()) return;
    // One request for them all: every window and the window manager read the whole keymap again at each
    // change, and a change per key would have them do it for each.
    XkbDescPtr xkb = xkbEventBase_ >= 0 ? XkbGetMap(display_, XkbKeySymsMask, XkbUseCoreKbd) : nullptr;
    if (xkb && xkb->map) {
        unsigned first = 255, last = 0;
        for (const auto& [keycode, sym] : keys) {
            first = std::min(first, keycode), last = std::max(last, keycode);
            // One level, so that Shift held by the user cannot change a letter's case. The room for the
            // symbol first: it is measured by the key's old width, and spare keys share theirs.
            const int width = sym == NoSymbol ? 0 : 1;
            KeySym* syms = XkbResizeKeySyms(xkb, int(keycode), width);
            if (!syms) continue;
            if (width) syms[0] = sym;
            XkbSymMapPtr map = &xkb->map->key_sym_map[keycode];
            map->kt_index[0] = XkbOneLevelIndex;
            map->group_info = XkbSetNumGroups(0, width);
            map->width = width;
        }
        XkbMapChangesRec changes{};
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = KeyCode(first);
        changes.num_key_syms = last - first + 1;
        XkbChangeMap(display_, xkb, &changes);
        XkbFreeKeyboard(xkb, 0, True);
    } else if (xkb) {
        XkbFreeKeyboard(xkb, 0, True);
        xkb = nullptr;
    }
    // The change of one key once more through the core protocol: only that reaches every client as the
    // MappingNotify that has it read the keymap again; a client that loaded its XKB map a moment before
    // may not yet have asked for XKB's notice.
    for (const auto& [keycode, sym] : xkb ? std::span(keys).last(1) : std::span(keys)) {
        // The same symbol on both levels, or Shift held by the user would change its case.
        KeySym syms[2] = {sym, sym};
        XChangeKeyboardMapping(display_, int(keycode), sym == NoSymbol ? 1 : 2, syms, 1);
    }
}

void X11Keyboard::pressChar(char32_t ch) {
    if (LendableSym(ch) == XKB_KEY_NoSymbol) return;
    // A caller that did not ask charsReadyAt first waits here.
    for (std::chrono::steady_clock::time_point ready;
         (ready = charsReadyAt({&ch, 1})) > std::chrono::steady_clock::now();) {
        XSync(display_, False);
        std::this_thread::sleep_until(ready);
    }
    const auto lent = lentTo(ch);
    if (lent == lent_.end()) return;
    lent->used = std::chrono::steady_clock::now();
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
    const auto lastUse = std::max_element(lent_.begin(), lent_.end(), [](const LentKey& a, const LentKey& b) {
                             return a.used < b.used;
                         })->used;
    std::this_thread::sleep_until(lastUse + kReturnSettleTime);
    std::vector<std::pair<unsigned, KeySym>> keys;
    for (const LentKey& k : lent_)
        keys.emplace_back(k.keycode, NoSymbol);
    changeKeys(keys);
    lent_.clear();
    XSync(display_, False);
    // The keys are spare again; the layout read before still shows them lent.
    layoutStale_ = true;
}

} // namespace keys
