#include "keys/uinput/seatkeymap.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace keys {
namespace {

struct Seat {
    xkb_context* context;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    xkb_keymap* keymap = nullptr;
    bool keyboardless = false; // the seat said it has no keyboard
};

void OnKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* seat = static_cast<Seat*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && !seat->keymap) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            // The text ends in a NUL within `size`; a compositor that leaves it out must not make us read past.
            const char* chars = static_cast<const char*>(text);
            const size_t length = strnlen(chars, size);
            seat->keymap = xkb_keymap_new_from_buffer(seat->context, chars, length, XKB_KEYMAP_FORMAT_TEXT_V1,
                                                      XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(text, size);
        }
    }
    close(fd);
}
void OnEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void OnLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void OnKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void OnModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void OnRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboardListener{OnKeymap, OnEnter, OnLeave, OnKey, OnModifiers, OnRepeat};

void OnCapabilities(void* data, wl_seat* wlSeat, uint32_t capabilities) {
    auto* seat = static_cast<Seat*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !seat->keyboard) {
        seat->keyboard = wl_seat_get_keyboard(wlSeat);
        wl_keyboard_add_listener(seat->keyboard, &kKeyboardListener, seat);
    } else if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD)) {
        seat->keyboardless = true;
    }
}
void OnName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener{OnCapabilities, OnName};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* seat = static_cast<Seat*>(data);
    if (seat->seat || std::strcmp(interface, wl_seat_interface.name) != 0) return;
    seat->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, version < 2 ? 1 : 2));
    wl_seat_add_listener(seat->seat, &kSeatListener, seat);
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener{OnGlobal, OnGlobalRemove};

void OnDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}
const wl_callback_listener kSyncListener{OnDone};

// A round trip that gives up at `deadline`: a compositor that hangs must not hang the agent's start.
bool RoundTrip(wl_display* display, std::chrono::steady_clock::time_point deadline) {
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    while (!done) {
        if (wl_display_dispatch_pending(display) < 0) break;
        if (done) break;
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (wl_display_read_events(display) < 0) break;
    }
    wl_callback_destroy(callback);
    return done && wl_display_get_error(display) == 0;
}

} // namespace

xkb_keymap* SeatKeymap(xkb_context* context, std::string* name) {
    // Not under a compositor: a socket of some other session would give some other layout.
    if (!context || (!std::getenv("WAYLAND_DISPLAY") && !std::getenv("WAYLAND_SOCKET"))) return nullptr;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    Seat seat{context};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &seat);
    // The globals, then the seat's capabilities, then the keyboard's keymap: one round trip each.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (int trip = 0; trip < 3 && !seat.keymap && !(seat.seat == nullptr && trip > 0) && !seat.keyboardless; ++trip)
        if (!RoundTrip(display, deadline)) break;
    if (seat.keyboard) wl_keyboard_destroy(seat.keyboard);
    if (seat.seat) wl_seat_destroy(seat.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (seat.keymap && name) {
        const char* layout = xkb_keymap_layout_get_name(seat.keymap, 0);
        *name = layout && *layout ? layout : "the desktop's";
    }
    return seat.keymap;
}

} // namespace keys
