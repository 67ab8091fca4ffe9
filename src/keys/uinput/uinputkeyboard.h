#pragma once

#include "keys/keyboard.h"
#include "keys/xkb/xkblayout.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>

namespace keys {

// The layout the desktop types with: the one the Wayland compositor gives its clients where one
// answers, else the system's default (XKB names from the environment or the machine's keyboard
// settings). `name` gets its name.
XkbLayout DesktopLayout(std::string* name);

// Types through a virtual keyboard and mouse of the kernel (/dev/uinput), for compositors that offer
// clients no virtual keyboard (GNOME, KDE). The compositor reads it as any keyboard, with its own
// layout: keys go out at their place on the layout in force, and a character that no key of it types
// cannot be typed at all. It cannot watch: a device of our own sees no other keys.
class UinputKeyboard final : public Keyboard {
public:
    // Creates the device on `path` (the uinput node), typing on `layout`, which is named `layoutName`
    // in messages; null, with the reason and its remedy in `why`, when it cannot.
    static std::unique_ptr<UinputKeyboard> open(XkbLayout layout, std::string layoutName, std::string* why = nullptr,
                                                const char* path = "/dev/uinput");
    // On the layout the Wayland compositor gives its clients where one answers, else on the system's
    // default (XKB names from the environment or the machine's keyboard settings).
    static std::unique_ptr<UinputKeyboard> open(std::string* why = nullptr);

    // Writes the input events of a device already created to `fd`, which it takes over. Tests hand it
    // one end of a pipe or a socket.
    UinputKeyboard(int fd, XkbLayout layout, std::string layoutName);
    ~UinputKeyboard() override;
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    void press(KeyCode code) override;
    void release(KeyCode code) override;
    void flush() override {}
    KeyState snapshot() override { return {}; }
    KeyCode keyCodeOfChar(char32_t ch) override { return layout_.codeOfChar(ch); }
    void pressChar(char32_t ch) override;
    std::string sendsThrough() const override { return "/dev/uinput"; }

    // The kernel code a virtual key goes out as (KEY_* or BTN_*), 0 when none.
    unsigned kernelCodeOf(KeyCode code) const;

private:
    void key(unsigned kernelCode, bool down);
    bool write(const void* data, size_t size);

    int fd_;
    XkbLayout layout_;
    std::string layoutName_;
    bool broken_ = false;
    bool toldNoKey_ = false;
    // Key events written since the reader last had time to catch up, and when that burst began.
    int burst_ = 0;
    std::chrono::steady_clock::time_point burstStart_;
    // How often each kernel key was pressed and not yet released by this keyboard.
    std::array<int, 0x200> presses_{};
};

} // namespace keys
