#pragma once

#include "keys/keyboard.h"
#include "keys/xkb/xkblayout.h"

#include <bitset>
#include <memory>
#include <string>
#include <vector>

#include <linux/input-event-codes.h>

namespace keys {

// An input device that reports keys or buttons, as the kernel lists it under sysfs.
struct InputDevice {
    std::string node; // its /dev/input/event* file
    std::string name;
};

// Every device with keys or buttons among `root`/sys/class/input/event*, its node under `root`/dev;
// the root folder is "" on a real machine and a fake tree in tests.
std::vector<InputDevice> FindInputDevices(const std::string& root = {});

// Reads held keys from the Linux input devices, for desktops that tell no program the keys held while
// another window has the focus (every Wayland compositor). The kernel gives the keys held at opening
// (EVIOCGKEY) and then what changes; each snapshot takes in what came since the last one. Reading
// them takes membership of the `input` group. Keyboards and mice plugged in later are taken in too.
class EvdevWatcher : public KeyWatcher {
public:
    // Watches every device found under `root` (see FindInputDevices), naming keys by `layout`. Null
    // when none can be read, with the reason and its remedy in `why`.
    static std::unique_ptr<EvdevWatcher> open(XkbLayout layout, std::string* why = nullptr,
                                              const std::string& root = {});
    // On the layout the desktop types with (the compositor's, else the system's).
    static std::unique_ptr<EvdevWatcher> open(std::string* why = nullptr);

    explicit EvdevWatcher(XkbLayout layout, std::string root = {});
    ~EvdevWatcher() override;
    EvdevWatcher(const EvdevWatcher&) = delete;
    EvdevWatcher& operator=(const EvdevWatcher&) = delete;

    // Reads `fd` (opened non-blocking; taken over) as one device. Tests hand it a pipe they feed with
    // input_event records.
    void addDevice(int fd, std::string node);
    std::size_t deviceCount() const { return devices_.size(); }

    KeyState snapshot() override;
    KeyCode keyCodeOfChar(char32_t ch) override { return layout_.codeOfChar(ch); }
    std::string watchesThrough() const override { return "input devices (/dev/input)"; }

protected:
    using Held = std::bitset<KEY_CNT>;
    // The keys held on the device now, from the kernel; false when it cannot tell (not a device).
    virtual bool readHeld(int fd, Held& held);

private:
    struct Device {
        int fd;
        std::string node;
        Held held;
        bool dropped = false; // events were lost: wait for the next report, then ask the kernel
    };
    bool openNode(const std::string& node, int* error);
    void takeEvents(Device& device);
    void lookForNewDevices();

    XkbLayout layout_;
    std::string root_;
    std::vector<Device> devices_;
    int inotify_ = -1; // the device folder, for keyboards plugged in later
};

} // namespace keys
