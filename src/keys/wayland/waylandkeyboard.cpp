#include "keys/wayland/waylandkeyboard.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace keys {
namespace {

// libwayland-client 1.21 takes a write that fails on a full socket for a dead connection (and then spins):
// after this many requests we wait until the compositor has read them.
constexpr int kRequestsPerSync = 64;
// Events held back for one keymap to serve many characters ahead; a longer sequence goes out in pieces.
constexpr size_t kQueueLimit = 8192;
// libwayland-server 1.21 disconnects a window that falls about 200 KB of events behind, and windows read
// keys no faster than they handle them: past a burst, key requests go out at a pace windows keep up with.
constexpr double kBurstRequests = 4096;
constexpr double kRequestsPerSecond = 4000;
// A compositor that answers nothing for this long is taken for gone.
constexpr int kAnswerTimeoutMs = 3000;
// Pending events (a new layout) are read at most this often while typing.
constexpr auto kReadInterval = std::chrono::milliseconds(20);

// The name our keymaps carry, which tells them apart from the user's when the seat hands them back.
constexpr const char* kOurKeycodes = "xkb_keycodes \"vorlix\"";

// Linux button codes: BTN_LEFT, BTN_RIGHT, BTN_MIDDLE.
int ButtonIndex(KeyCode code) {
    return code == 0x01 ? 0 : code == 0x02 ? 1 : code == 0x04 ? 2 : -1;
}
constexpr unsigned kButtonCodes[] = {0x110, 0x111, 0x112};

bool IsControl(char32_t ch) {
    return ch < 0x20 || (ch >= 0x7F && ch < 0xA0);
}

// The keymap text libxkbcommon writes for `text`, empty when it does not compile.
std::string Normalise(xkb_context* xkb, const std::string& text) {
    xkb_keymap* keymap =
        xkb_keymap_new_from_string(xkb, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return {};
    char* out = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string result = out ? out : "";
    std::free(out);
    xkb_keymap_unref(keymap);
    return result;
}

// A key of one level, so that Shift held by a chord does not change the character's case.
std::string LentKeyLine(const std::string& name, char32_t ch) {
    char sym[64], line[160];
    if (xkb_keysym_get_name(xkb_utf32_to_keysym(ch), sym, sizeof sym) <= 0) return {};
    std::snprintf(line, sizeof line, "\tkey <%s> { type= \"ONE_LEVEL\", symbols[Group1]= [ %s ] };\n", name.c_str(),
                  sym);
    return line;
}

// Keycodes of a keymap made of lent keys alone, for a run of characters that no key types.
constexpr unsigned kFirstCharKeycode = 9, kLastCharKeycode = 255;

// A keymap of lent keys alone: one upload serves a long run of such characters (CJK text).
std::string CharsKeymap(const std::vector<std::pair<unsigned, char32_t>>& keys) {
    std::string names, symbols;
    for (const auto& [keycode, ch] : keys) {
        const std::string name = "C" + std::to_string(keycode);
        names += "\t<" + name + "> = " + std::to_string(keycode) + ";\n";
        symbols += LentKeyLine(name, ch);
    }
    return std::string(kOurKeycodes) + " {\n\tminimum = 8;\n\tmaximum = 255;\n" + names + "};\n" +
           "xkb_types \"vorlix\" {\n\ttype \"ONE_LEVEL\" {\n\t\tmodifiers= none;\n\t\tlevel_name[1]= "
           "\"Any\";\n\t};\n};\n" +
           "xkb_compatibility \"vorlix\" {\n};\nxkb_symbols \"vorlix\" {\n" + symbols + "};\n";
}

} // namespace

// The protocol's callbacks, which reach into the keyboard.
struct WaylandEvents {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
        auto* kb = static_cast<WaylandKeyboard*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !kb->seat_) {
            kb->seat_ =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 4u)));
            wl_seat_add_listener(kb->seat_, &seatListener, kb);
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            kb->keyboardManager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
            kb->pointerManager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    // A keyboard asked for before the seat has one stays dead: it is asked for when the seat gains one.
    static void capabilities(void* data, wl_seat* seat, uint32_t caps) {
        auto* kb = static_cast<WaylandKeyboard*>(data);
        const bool has = caps & WL_SEAT_CAPABILITY_KEYBOARD;
        if (has && !kb->seatKeyboard_) {
            kb->seatKeyboard_ = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(kb->seatKeyboard_, &keyboardListener, kb);
        } else if (!has && kb->seatKeyboard_) {
            wl_keyboard_destroy(kb->seatKeyboard_);
            kb->seatKeyboard_ = nullptr;
        }
    }
    static void seatName(void*, wl_seat*, const char*) {}

    // The seat hands every client the keymap of the keyboard last used: the user's, or ours after we type.
    static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
        auto* kb = static_cast<WaylandKeyboard*>(data);
        std::string text;
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 1) {
            void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                text.assign(static_cast<const char*>(map), strnlen(static_cast<const char*>(map), size));
                munmap(map, size);
            }
        }
        close(fd);
        if (text.empty() || text.find(kOurKeycodes) != std::string::npos) return;
        std::string normal = Normalise(kb->xkb_, text);
        if (!normal.empty() && normal != kb->userKeymap_) {
            kb->userKeymap_ = std::move(normal);
            kb->layoutStale_ = true;
        }
    }
    static void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

    static void done(void* data, wl_callback* callback, uint32_t) {
        *static_cast<bool*>(data) = true;
        wl_callback_destroy(callback);
    }

    static constexpr wl_registry_listener registryListener{global, globalRemove};
    static constexpr wl_seat_listener seatListener{capabilities, seatName};
    static constexpr wl_keyboard_listener keyboardListener{keymap, enter, leave, key, modifiers, repeatInfo};
    static constexpr wl_callback_listener doneListener{done};
};

std::unique_ptr<WaylandKeyboard> WaylandKeyboard::open(std::string* why) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) {
        if (why) *why = "no Wayland display is set";
        return nullptr;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        if (why) *why = "the Wayland compositor of " + std::string(name) + " cannot be reached";
        return nullptr;
    }
    std::unique_ptr<WaylandKeyboard> keyboard(new WaylandKeyboard(display));
    if (!keyboard->start(why)) return nullptr;
    return keyboard;
}

WaylandKeyboard::WaylandKeyboard(wl_display* display)
    : display_(display), xkb_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

bool WaylandKeyboard::start(std::string* why) {
    const auto fail = [&](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    if (!xkb_) return fail("libxkbcommon cannot start");
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &WaylandEvents::registryListener, this);
    // The globals, then the seat's capabilities, then its keyboard's keymap.
    for (int i = 0; i < 3; ++i)
        if (!roundtrip()) return fail("the Wayland compositor does not answer");
    if (!keyboardManager_)
        return fail("the Wayland compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1; wlroots "
                    "compositors such as sway do)");
    if (!seat_) return fail("the Wayland compositor has no seat");

    if (userKeymap_.empty()) {
        // No keyboard on the seat yet: the keymap it would get by default (XKB_DEFAULT_LAYOUT and the like).
        if (xkb_keymap* keymap = xkb_keymap_new_from_names(xkb_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
            if (char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1)) {
                userKeymap_ = text;
                std::free(text);
            }
            xkb_keymap_unref(keymap);
        }
        if (userKeymap_.empty()) return fail("no keymap can be had for the virtual keyboard");
    }
    // Made now and kept: keys sent right after the seat first gains a keyboard are lost.
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager_, seat_);
    if (pointerManager_) pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager_, seat_);
    ensureLayout();
    if (!sent_) return fail("the user's keymap cannot be uploaded");
    if (!roundtrip() || lost_) return fail("the Wayland compositor refused the virtual keyboard");
    return true;
}

WaylandKeyboard::~WaylandKeyboard() {
    if (!lost_) {
        queue_.clear();
        releaseAll();
        roundtrip();
    }
    if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (pointerManager_) zwlr_virtual_pointer_manager_v1_destroy(pointerManager_);
    if (keyboardManager_) zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
    if (seatKeyboard_) wl_keyboard_destroy(seatKeyboard_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    if (!lost_) wl_display_flush(display_);
    wl_display_disconnect(display_);
    if (state_) xkb_state_unref(state_);
    if (sent_) xkb_keymap_unref(sent_);
    xkb_context_unref(xkb_);
}

void WaylandKeyboard::lose(const std::string& why) {
    if (lost_) return;
    lost_ = true;
    queue_.clear();
    presses_.fill(0);
    buttons_.fill(0);
    if (reportProblem) reportProblem(why);
}

// Waits until the compositor has handled every request so far, reading its events meanwhile.
bool WaylandKeyboard::roundtrip() {
    if (lost_) return false;
    unsynced_ = 0;
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &WaylandEvents::doneListener, &done);
    const int fd = wl_display_get_fd(display_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    const auto left = [&] {
        return int(std::max<long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                   .count()));
    };
    bool broken = false, silent = false;
    while (!done && !broken) {
        // Our side first: a write that would block is waited for, never retried blindly.
        while (wl_display_flush(display_) < 0 && !broken) {
            pollfd out{fd, POLLOUT, 0};
            broken = errno != EAGAIN || (silent = poll(&out, 1, left()) == 0) || (out.revents & (POLLERR | POLLHUP));
        }
        if (broken) break;
        if (wl_display_prepare_read(display_) != 0) {
            broken = wl_display_dispatch_pending(display_) < 0;
            continue;
        }
        pollfd in{fd, POLLIN, 0};
        const int ready = poll(&in, 1, left());
        if (ready > 0) {
            broken = wl_display_read_events(display_) < 0;
        } else {
            wl_display_cancel_read(display_);
            silent = ready == 0;
            broken = silent || errno != EINTR;
        }
        if (!broken) broken = wl_display_dispatch_pending(display_) < 0;
    }
    lastRead_ = std::chrono::steady_clock::now();
    if (done) return true;
    if (silent && !wl_display_get_error(display_))
        lose("The Wayland compositor stopped answering: keys are not typed any more");
    else
        lose("The Wayland compositor closed the connection: keys are not typed any more");
    return false;
}

// Events that have already arrived (a new keymap), without waiting for any.
void WaylandKeyboard::readEvents() {
    if (lost_) return;
    lastRead_ = std::chrono::steady_clock::now();
    if (wl_display_prepare_read(display_) == 0) {
        pollfd in{wl_display_get_fd(display_), POLLIN, 0};
        if (poll(&in, 1, 0) > 0)
            wl_display_read_events(display_);
        else
            wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0 || wl_display_get_error(display_))
        lose("The Wayland compositor closed the connection: keys are not typed any more");
}

void WaylandKeyboard::request() {
    if (++unsynced_ < kRequestsPerSync) return;
    const auto now = std::chrono::steady_clock::now();
    credit_ = std::min(kBurstRequests,
                       credit_ + kRequestsPerSecond * std::chrono::duration<double>(now - lastCredit_).count());
    lastCredit_ = now;
    credit_ -= unsynced_;
    if (credit_ < 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(-credit_ / kRequestsPerSecond));
        credit_ = 0;
        lastCredit_ = std::chrono::steady_clock::now();
    }
    roundtrip();
}

void WaylandKeyboard::ensureLayout() {
    if (!layoutStale_ || lost_) return;
    layoutStale_ = false;
    xkb_keymap* keymap =
        xkb_keymap_new_from_string(xkb_, userKeymap_.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) return;
    layout_ = XkbLayout(keymap, 0);
    // Keys without symbols, and keycodes past the keymap's last, can carry a character of ours.
    spare_ = layout_.spareKeycodes();
    for (unsigned kc = std::min<unsigned>(255, xkb_keymap_max_keycode(keymap)) + 1; kc <= 255; ++kc)
        spare_.push_back(kc);
    spareNames_.clear();
    for (unsigned kc : spare_) {
        const char* name = kc <= xkb_keymap_max_keycode(keymap) ? xkb_keymap_key_get_name(keymap, kc) : nullptr;
        spareNames_.push_back(name ? name : "");
    }
    xkb_keymap_unref(keymap);
    // The characters lent so far are gone with the old keymap, except those held now.
    std::vector<LentKey> held;
    for (const LentKey& k : lent_)
        if (presses_[k.keycode] > 0 && std::find(spare_.begin(), spare_.end(), k.keycode) != spare_.end())
            held.push_back(k);
    upload(userKeymapWith(held), held, false);
}

// The user's keymap, renamed, with the lent keys added.
std::string WaylandKeyboard::userKeymapWith(const std::vector<LentKey>& lent) const {
    std::string text = userKeymap_;
    const size_t keycodes = text.find("xkb_keycodes");
    const size_t keycodesOpen = keycodes == std::string::npos ? keycodes : text.find('{', keycodes);
    const size_t symbols = text.find("xkb_symbols");
    const size_t symbolsOpen = symbols == std::string::npos ? symbols : text.find('{', symbols);
    if (keycodesOpen == std::string::npos || symbolsOpen == std::string::npos) return {};
    std::string names, keys;
    char line[160];
    for (const LentKey& k : lent) {
        const size_t i = size_t(std::find(spare_.begin(), spare_.end(), k.keycode) - spare_.begin());
        std::string name = i < spareNames_.size() ? spareNames_[i] : "";
        if (name.empty()) {
            // Four characters at most, as X key names, for XWayland's sake.
            name = "V" + std::to_string(k.keycode);
            std::snprintf(line, sizeof line, "\t<%s> = %u;\n", name.c_str(), k.keycode);
            names += line;
        }
        keys += LentKeyLine(name, k.ch);
    }
    text.insert(symbolsOpen + 1, "\n" + keys);
    text.insert(keycodesOpen + 1, "\n" + names);
    text.replace(keycodes, keycodesOpen - keycodes, std::string(kOurKeycodes) + " ");
    // Keycodes added past the last one need a wider range.
    const size_t max = text.find("maximum = ", keycodes);
    if (!names.empty() && max < text.find("xkb_types")) text.replace(max, text.find(';', max) - max, "maximum = 255");
    return text;
}

bool WaylandKeyboard::upload(const std::string& text, const std::vector<LentKey>& lent, bool charsOnly) {
    if (text.empty()) return false;
    // A keymap the compositor cannot compile costs the connection: it is checked here first.
    xkb_keymap* keymap =
        xkb_keymap_new_from_string(xkb_, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        if (reportProblem && !lent.empty() && !std::exchange(keymapRefused_, true))
            reportProblem("Characters outside the keyboard layout cannot be typed: their keymap does not compile");
        return false;
    }
    const int fd = memfd_create("vorlix-keymap", MFD_CLOEXEC);
    const bool written = fd >= 0 && write(fd, text.c_str(), text.size() + 1) == ssize_t(text.size() + 1);
    if (!written) {
        if (fd >= 0) close(fd);
        xkb_keymap_unref(keymap);
        return false;
    }
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(text.size() + 1));
    close(fd);
    ++uploads_;
    if (state_) xkb_state_unref(state_);
    if (sent_) xkb_keymap_unref(sent_);
    sent_ = keymap;
    state_ = xkb_state_new(sent_);
    lent_ = lent;
    charsOnly_ = charsOnly;
    // The compositor keeps the keys held across a new keymap; our state learns them again.
    for (unsigned kc = 8; kc < 256; ++kc)
        if (presses_[kc] > 0) xkb_state_update_key(state_, kc, XKB_KEY_DOWN);
    sendModifiers();
    request();
    return true;
}

// The compositor takes no modifiers from a virtual keyboard's keys: they are sent as our state has them.
void WaylandKeyboard::sendModifiers() {
    if (!state_ || lost_) return;
    zwp_virtual_keyboard_v1_modifiers(keyboard_, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
                                      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
                                      xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
                                      xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE));
    request();
}

void WaylandKeyboard::sendKey(unsigned keycode, bool down) {
    if (lost_ || !keycode || keycode > 255) return;
    const uint32_t time = uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - epoch_).count());
    const auto send = [&](bool d) {
        zwp_virtual_keyboard_v1_key(keyboard_, time, keycode - 8,
                                    d ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        request();
        if (state_ && xkb_state_update_key(state_, keycode, d ? XKB_KEY_DOWN : XKB_KEY_UP) &
                          (XKB_STATE_MODS_EFFECTIVE | XKB_STATE_LAYOUT_EFFECTIVE))
            sendModifiers();
    };
    // A key named twice in a chord ("hello") is let go and pressed again, and goes up with its last release.
    int& presses = presses_[keycode];
    if (down) {
        if (presses++ > 0) send(false);
        send(true);
    } else if (presses > 0 && --presses == 0) {
        send(false);
    }
}

void WaylandKeyboard::sendButton(KeyCode code, bool down) {
    const int i = ButtonIndex(code);
    if (i < 0 || !pointer_ || lost_) return;
    const uint32_t time = uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - epoch_).count());
    const auto send = [&](bool d) {
        zwlr_virtual_pointer_v1_button(pointer_, time, kButtonCodes[i],
                                       d ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer_);
        request();
    };
    if (down) {
        if (buttons_[size_t(i)]++ > 0) send(false);
        send(true);
    } else if (buttons_[size_t(i)] > 0 && --buttons_[size_t(i)] == 0) {
        send(false);
    }
}

// A new keymap lends keys to the characters ahead from `from` on, in order of first use. Within a run of
// such characters with nothing held, a keymap of lent keys alone carries the most; otherwise the user's
// keymap lends its spare keys, keeping those held now where they are.
void WaylandKeyboard::lendKeys(size_t from, bool charsOnly) {
    std::vector<LentKey> lent;
    if (!charsOnly)
        for (const LentKey& k : lent_)
            if (presses_[k.keycode] > 0) lent.push_back(k);
    const auto isLent = [&](char32_t ch) {
        return std::any_of(lent.begin(), lent.end(), [&](const LentKey& k) { return k.ch == ch; });
    };
    const auto isFree = [&](unsigned kc) {
        return std::none_of(lent.begin(), lent.end(), [&](const LentKey& k) { return k.keycode == kc; });
    };
    std::vector<unsigned> keycodes;
    if (charsOnly)
        for (unsigned kc = kFirstCharKeycode; kc <= kLastCharKeycode; ++kc)
            keycodes.push_back(kc);
    const std::vector<unsigned>& free = charsOnly ? keycodes : spare_;
    auto next = free.begin();
    for (size_t i = from; i < queue_.size(); ++i) {
        const Event& e = queue_[i];
        if (charsOnly && e.kind != Event::Char) break;
        if (e.kind != Event::Char || !e.down || isLent(e.ch)) continue;
        next = std::find_if(next, free.end(), isFree);
        if (next == free.end()) break;
        lent.push_back({*next++, e.ch});
    }
    if (!charsOnly) {
        upload(userKeymapWith(lent), lent, false);
        return;
    }
    std::vector<std::pair<unsigned, char32_t>> keys;
    for (const LentKey& k : lent)
        keys.emplace_back(k.keycode, k.ch);
    upload("xkb_keymap {\n" + CharsKeymap(keys) + "};\n", lent, true);
}

// Whether the characters from `from` on, up to the next key, need more keys than the user's keymap spares.
bool WaylandKeyboard::longCharRun(size_t from) const {
    if (std::any_of(presses_.begin(), presses_.end(), [](int n) { return n > 0; })) return false;
    std::vector<char32_t> distinct;
    for (size_t i = from; i < queue_.size() && queue_[i].kind == Event::Char; ++i)
        if (queue_[i].down && std::find(distinct.begin(), distinct.end(), queue_[i].ch) == distinct.end()) {
            distinct.push_back(queue_[i].ch);
            if (distinct.size() > spare_.size()) return true;
        }
    return false;
}

void WaylandKeyboard::sendChar(size_t at) {
    const Event& e = queue_[at];
    const auto find = [&] {
        return std::find_if(lent_.begin(), lent_.end(), [&](const LentKey& k) { return k.ch == e.ch; });
    };
    auto lent = find();
    if (lent == lent_.end()) {
        if (!e.down) return;
        lendKeys(at, longCharRun(at));
        if ((lent = find()) == lent_.end()) return; // every spare key is held in this chord
    }
    sendKey(lent->keycode, e.down);
}

void WaylandKeyboard::sendQueued() {
    if (!lost_ && std::chrono::steady_clock::now() - lastRead_ >= kReadInterval) readEvents();
    ensureLayout();
    for (size_t i = 0; i < queue_.size() && !lost_; ++i) {
        const Event& e = queue_[i];
        if (e.kind == Event::Key) {
            // Back from a keymap of lent keys alone, letting go of any still held.
            if (charsOnly_) {
                for (const LentKey& k : lent_)
                    while (presses_[k.keycode] > 0)
                        sendKey(k.keycode, false);
                lendKeys(i, false);
            }
            sendKey(layout_.keycodeOf(e.code), e.down);
        } else if (e.kind == Event::Button)
            sendButton(e.code, e.down);
        else
            sendChar(i);
        // A layout switch while typing: the keys still to come follow the new one.
        if (layoutStale_ && std::all_of(presses_.begin(), presses_.end(), [](int n) { return n == 0; })) ensureLayout();
    }
    queue_.clear();
}

void WaylandKeyboard::queue(Event event) {
    if (lost_) return;
    queue_.push_back(event);
    if (queue_.size() >= kQueueLimit) sendQueued();
}

void WaylandKeyboard::press(KeyCode code) {
    queue({ButtonIndex(code) >= 0 ? Event::Button : Event::Key, true, code, 0});
}

void WaylandKeyboard::release(KeyCode code) {
    queue({ButtonIndex(code) >= 0 ? Event::Button : Event::Key, false, code, 0});
}

void WaylandKeyboard::pressChar(char32_t ch) {
    // Control characters have no business on a lent key.
    if (!IsControl(ch) && xkb_utf32_to_keysym(ch) != XKB_KEY_NoSymbol) queue({Event::Char, true, 0, ch});
}

void WaylandKeyboard::releaseChar(char32_t ch) {
    if (!IsControl(ch) && xkb_utf32_to_keysym(ch) != XKB_KEY_NoSymbol) queue({Event::Char, false, 0, ch});
}

void WaylandKeyboard::flush() {
    sendQueued();
    // Every key has reached the compositor, and so the focused window's queue, when this returns.
    roundtrip();
}

void WaylandKeyboard::releaseAll() {
    for (unsigned kc = 8; kc < 256; ++kc)
        while (presses_[kc] > 0)
            sendKey(kc, false);
    for (KeyCode code : {KeyCode(0x01), KeyCode(0x02), KeyCode(0x04)})
        while (buttons_[size_t(ButtonIndex(code))] > 0)
            sendButton(code, false);
}

KeyState WaylandKeyboard::snapshot() {
    // No client sees the keys held elsewhere; the tick is still the time to notice a new layout.
    if (!lost_ && std::chrono::steady_clock::now() - lastRead_ >= kReadInterval) readEvents();
    return {};
}

KeyCode WaylandKeyboard::keyCodeOfChar(char32_t ch) {
    if (!lost_ && queue_.empty() && std::chrono::steady_clock::now() - lastRead_ >= kReadInterval) readEvents();
    if (queue_.empty()) ensureLayout();
    return layout_.codeOfChar(ch);
}

unsigned WaylandKeyboard::keycodeOf(KeyCode code) {
    if (queue_.empty()) ensureLayout();
    return layout_.keycodeOf(code);
}

} // namespace keys
