#include "keys/uinput/uinputkeyboard.h"

#include "keys/xkb/kernelcodes.h"
#include "keys/xkb/systemkeymap.h"
#ifdef VORLIX_UINPUT_SEAT_KEYMAP
#include "keys/uinput/seatkeymap.h"
#endif

#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace keys {
namespace {

// The kernel gives each reader of a device like ours a queue of 128 events (a key event and its
// report count two); what overflows it is dropped, so keys go out in bursts that fill half of it,
// and the next burst waits until the compositor has had time to read.
constexpr int kBurst = 32;
constexpr auto kCatchUp = std::chrono::milliseconds(2);
// How long a full pipe may hold a write before the device counts as gone.
constexpr int kWriteTimeoutMs = 1000;

const char* const kRemedy =
    "The package installs a udev rule (/usr/lib/udev/rules.d/70-vorlix-uinput.rules) that lets the person at the "
    "desk use /dev/uinput; once it is in place, run: sudo udevadm trigger --name-match=uinput, or restart";

std::string Utf8(char32_t ch) {
    std::string out;
    if (ch < 0x80) {
        out += char(ch);
    } else if (ch < 0x800) {
        out += char(0xC0 | (ch >> 6));
        out += char(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += char(0xE0 | (ch >> 12));
        out += char(0x80 | ((ch >> 6) & 0x3F));
        out += char(0x80 | (ch & 0x3F));
    } else {
        out += char(0xF0 | (ch >> 18));
        out += char(0x80 | ((ch >> 12) & 0x3F));
        out += char(0x80 | ((ch >> 6) & 0x3F));
        out += char(0x80 | (ch & 0x3F));
    }
    return out;
}

// Declares the keys and buttons, then creates the device; the reason when the node will not.
std::string CreateDevice(int fd, const char* path) {
    const auto set = [fd](unsigned long request, int value) { return ioctl(fd, request, value) == 0; };
    bool ok = set(UI_SET_EVBIT, EV_SYN) && set(UI_SET_EVBIT, EV_KEY) && set(UI_SET_EVBIT, EV_REL);
    // Every key an XKB keycode can name, so any layout's key can be pressed.
    for (int key = 1; ok && key <= 255 - int(kKernelKeycodeOffset); ++key)
        ok = set(UI_SET_KEYBIT, key);
    for (int button = BTN_LEFT; ok && button <= BTN_EXTRA; ++button)
        ok = set(UI_SET_KEYBIT, button);
    // Without motion axes a compositor takes the buttons for no pointer at all.
    for (int axis : {REL_X, REL_Y, REL_WHEEL})
        ok = ok && set(UI_SET_RELBIT, axis);
    if (!ok) return std::string(path) + " is not a uinput device (" + std::strerror(errno) + ")";

    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, "Vorlix virtual keyboard", UINPUT_MAX_NAME_SIZE - 1);
    if (ioctl(fd, UI_DEV_SETUP, &setup) != 0) {
        // Kernels before 4.5 take the set-up as a write.
        uinput_user_dev old{};
        std::memcpy(old.name, setup.name, UINPUT_MAX_NAME_SIZE);
        old.id = setup.id;
        if (::write(fd, &old, sizeof old) != ssize_t(sizeof old))
            return std::string(path) + " refused the virtual keyboard's set-up (" + std::strerror(errno) + ")";
    }
    if (ioctl(fd, UI_DEV_CREATE) != 0)
        return std::string(path) + " refused to create the virtual keyboard (" + std::strerror(errno) + ")";
    return {};
}

} // namespace

std::unique_ptr<UinputKeyboard> UinputKeyboard::open(XkbLayout layout, std::string layoutName, std::string* why,
                                                     const char* path) {
    const int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (!why) return nullptr;
        if (error == ENOENT || error == ENODEV || error == ENXIO)
            *why = std::string("there is no ") + path + ": the kernel has no uinput module (sudo modprobe uinput)";
        else if (error == EACCES || error == EPERM)
            *why = std::string(path) + " may not be opened by this user. " + kRemedy;
        else
            *why = std::string(path) + " cannot be opened (" + std::strerror(error) + ")";
        return nullptr;
    }
    if (std::string reason = CreateDevice(fd, path); !reason.empty()) {
        ::close(fd);
        if (why) *why = reason;
        return nullptr;
    }
    return std::make_unique<UinputKeyboard>(fd, std::move(layout), std::move(layoutName));
}

XkbLayout DesktopLayout(std::string* name) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    std::string layoutName, reason;
    xkb_keymap* keymap = nullptr;
#ifdef VORLIX_UINPUT_SEAT_KEYMAP
    keymap = SeatKeymap(context, &layoutName);
#endif
    if (!keymap) {
        const KeymapNames names = SystemKeymapNames();
        layoutName = names.layout.empty() ? "us" : names.layout;
        keymap = SystemKeymap(context, names, &reason);
        // A layout name that does not compile: the default keymap still types the keys at their US places.
        if (!keymap) keymap = SystemKeymap(context, KeymapNames{}), layoutName = "us";
    }
    XkbLayout layout = keymap ? XkbLayout(keymap, 0) : XkbLayout();
    if (keymap) xkb_keymap_unref(keymap);
    if (context) xkb_context_unref(context);
    if (name) *name = layoutName;
    return layout;
}

std::unique_ptr<UinputKeyboard> UinputKeyboard::open(std::string* why) {
    std::string name;
    XkbLayout layout = DesktopLayout(&name);
    return open(std::move(layout), std::move(name), why);
}

UinputKeyboard::UinputKeyboard(int fd, XkbLayout layout, std::string layoutName)
    : fd_(fd), layout_(std::move(layout)), layoutName_(std::move(layoutName)) {}

UinputKeyboard::~UinputKeyboard() {
    // No key stays down after us, whatever a sequence cut short left.
    for (unsigned kernelCode = 0; kernelCode < presses_.size(); ++kernelCode)
        if (presses_[kernelCode] > 0) {
            presses_[kernelCode] = 1;
            key(kernelCode, false);
        }
    ioctl(fd_, UI_DEV_DESTROY);
    ::close(fd_);
}

unsigned UinputKeyboard::kernelCodeOf(KeyCode code) const {
    if (const unsigned button = KernelButtonOf(code)) return button;
    const unsigned keycode = layout_.keycodeOf(code);
    return keycode > kKernelKeycodeOffset ? keycode - kKernelKeycodeOffset : 0;
}

void UinputKeyboard::press(KeyCode code) {
    if (const unsigned kernelCode = kernelCodeOf(code)) key(kernelCode, true);
}

void UinputKeyboard::release(KeyCode code) {
    if (const unsigned kernelCode = kernelCodeOf(code)) key(kernelCode, false);
}

void UinputKeyboard::pressChar(char32_t ch) {
    // Control characters have no key to be on; the others are said once, not typed as something else.
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0) || toldNoKey_) return;
    toldNoKey_ = true;
    problem("\"" + Utf8(ch) + "\" cannot be typed: no key of the keyboard layout (" + layoutName_ +
            ") types it, and keys typed through /dev/uinput can only be that layout's. Such characters are left out.");
}

void UinputKeyboard::key(unsigned kernelCode, bool down) {
    // The kernel drops a press of a key that is already down, yet a chord may name a key twice
    // ("hello"): the key is let go and pressed again, and goes up with its last release.
    int& presses = presses_[kernelCode];
    const auto emit = [&](int value) {
        const auto now = std::chrono::steady_clock::now();
        if (now - burstStart_ >= kCatchUp) {
            burst_ = 0;
            burstStart_ = now;
        } else if (burst_ >= kBurst) {
            std::this_thread::sleep_for(kCatchUp);
            burst_ = 0;
            burstStart_ = std::chrono::steady_clock::now();
        }
        ++burst_;
        input_event events[2]{};
        events[0].type = EV_KEY;
        events[0].code = std::uint16_t(kernelCode);
        events[0].value = value;
        events[1].type = EV_SYN;
        events[1].code = SYN_REPORT;
        write(events, sizeof events);
    };
    if (down) {
        if (presses++ > 0) emit(0);
        emit(1);
    } else if (presses == 0 || --presses == 0) {
        emit(0);
    }
}

bool UinputKeyboard::write(const void* data, size_t size) {
    if (broken_) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n > 0) {
            p += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        pollfd out{fd_, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && poll(&out, 1, kWriteTimeoutMs) > 0 && !(out.revents & (POLLERR | POLLHUP)))
            continue;
        const int error = n < 0 && errno != EAGAIN ? errno : ETIMEDOUT;
        broken_ = true;
        problem(std::string("Keys can no longer be typed through /dev/uinput (") + std::strerror(error) +
                "); the agent goes on without typing them.");
        return false;
    }
    return true;
}

} // namespace keys
