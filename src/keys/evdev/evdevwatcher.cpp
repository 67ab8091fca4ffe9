#include "keys/evdev/evdevwatcher.h"

#include "keys/uinput/uinputkeyboard.h"
#include "keys/xkb/kernelcodes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace keys {

namespace {

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A sysfs capability mask: hexadecimal words of the kernel's long, the most significant first.
bool HasBit(const std::string& mask, unsigned bit) {
    std::istringstream words(mask);
    std::vector<unsigned long long> values;
    for (std::string w; words >> w;)
        values.push_back(std::strtoull(w.c_str(), nullptr, 16));
    const unsigned width = sizeof(long) * 8;
    const std::size_t index = bit / width;
    if (index >= values.size()) return false;
    return (values[values.size() - 1 - index] >> (bit % width)) & 1;
}

} // namespace

std::vector<InputDevice> FindInputDevices(const std::string& root) {
    std::vector<InputDevice> found;
    const std::string classDir = root + "/sys/class/input";
    DIR* dir = opendir(classDir.c_str());
    if (!dir) return found;
    while (dirent* entry = readdir(dir)) {
        const std::string event = entry->d_name;
        if (event.rfind("event", 0) != 0) continue;
        const std::string device = classDir + "/" + event + "/device";
        if (!HasBit(ReadLine(device + "/capabilities/ev"), EV_KEY)) continue;
        // A device that declares key events but no key (some sensors) has nothing to watch.
        const std::string keys = ReadLine(device + "/capabilities/key");
        if (keys.find_first_not_of("0 ") == std::string::npos) continue;
        std::string node = "input/" + event;
        std::ifstream uevent(classDir + "/" + event + "/uevent");
        for (std::string line; std::getline(uevent, line);)
            if (line.rfind("DEVNAME=", 0) == 0) node = line.substr(8);
        found.push_back({root + "/dev/" + node, ReadLine(device + "/name")});
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const InputDevice& a, const InputDevice& b) { return a.node < b.node; });
    return found;
}

std::unique_ptr<EvdevWatcher> EvdevWatcher::open(XkbLayout layout, std::string* why, const std::string& root) {
    auto watcher = std::make_unique<EvdevWatcher>(std::move(layout), root);
    const std::vector<InputDevice> devices = FindInputDevices(root);
    int denied = 0;
    for (const InputDevice& device : devices) {
        int error = 0;
        if (!watcher->openNode(device.node, &error) && (error == EACCES || error == EPERM)) ++denied;
    }
    if (watcher->deviceCount() > 0) return watcher;
    if (why) {
        if (denied > 0)
            *why = "the keyboards (/dev/input/event*) can be read only by members of the input group; to use hot "
                   "keys, run \"sudo usermod -aG input $USER\" and log in again";
        else
            *why = "no keyboard or mouse was found among the input devices (/dev/input)";
    }
    return nullptr;
}

std::unique_ptr<EvdevWatcher> EvdevWatcher::open(std::string* why) {
    return open(DesktopLayout(nullptr), why);
}

EvdevWatcher::EvdevWatcher(XkbLayout layout, std::string root) : layout_(std::move(layout)), root_(std::move(root)) {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Creation, then the permissions udev gives the node a moment later.
    if (inotify_ >= 0 && inotify_add_watch(inotify_, (root_ + "/dev/input").c_str(), IN_CREATE | IN_ATTRIB) < 0) {
        ::close(inotify_);
        inotify_ = -1;
    }
}

EvdevWatcher::~EvdevWatcher() {
    for (Device& d : devices_)
        ::close(d.fd);
    if (inotify_ >= 0) ::close(inotify_);
}

bool EvdevWatcher::openNode(const std::string& node, int* error) {
    for (const Device& d : devices_)
        if (d.node == node) return true;
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    addDevice(fd, node);
    return true;
}

void EvdevWatcher::addDevice(int fd, std::string node) {
    Device device{fd, std::move(node), {}};
    // Keys held already (the hot key that started us, say) count from the first tick.
    readHeld(fd, device.held);
    devices_.push_back(std::move(device));
}

bool EvdevWatcher::readHeld(int fd, Held& held) {
    unsigned char bits[KEY_CNT / 8 + 1] = {};
    if (ioctl(fd, EVIOCGKEY(sizeof bits), bits) < 0) return false;
    held.reset();
    for (unsigned code = 0; code < KEY_CNT; ++code)
        if (bits[code / 8] & (1u << (code % 8))) held.set(code);
    return true;
}

void EvdevWatcher::takeEvents(Device& device) {
    input_event events[64];
    for (;;) {
        const ssize_t got = ::read(device.fd, events, sizeof events);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // Unplugged (a device that is gone reads ENODEV; a closed pipe, the end): its keys are up, and
            // the device is dropped at the end of this snapshot.
            if (got == 0 || errno == ENODEV) {
                device.held.reset();
                ::close(device.fd);
                device.fd = -1;
            }
            return;
        }
        for (std::size_t i = 0; i < std::size_t(got) / sizeof(input_event); ++i) {
            const input_event& e = events[i];
            if (e.type == EV_SYN && e.code == SYN_DROPPED) {
                device.dropped = true;
            } else if (e.type == EV_SYN && e.code == SYN_REPORT && device.dropped) {
                // The kernel's buffer overflowed: what it says is held now replaces what was missed.
                device.dropped = false;
                readHeld(device.fd, device.held);
            } else if (e.type == EV_KEY && e.code < KEY_CNT && !device.dropped) {
                device.held.set(e.code, e.value != 0); // 2 is a repeat of a held key
            }
        }
        if (std::size_t(got) < sizeof events) return;
    }
}

void EvdevWatcher::lookForNewDevices() {
    if (inotify_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    while (::read(inotify_, buffer, sizeof buffer) > 0)
        changed = true;
    if (!changed) return;
    for (const InputDevice& device : FindInputDevices(root_))
        openNode(device.node, nullptr);
}

KeyState EvdevWatcher::snapshot() {
    lookForNewDevices();
    Held held;
    for (Device& d : devices_) {
        takeEvents(d);
        held |= d.held;
    }
    std::erase_if(devices_, [](const Device& d) { return d.fd < 0; });

    KeyState state;
    for (const auto& [code, keycode] : layout_.stateKeys())
        if (keycode >= kKernelKeycodeOffset && held.test(keycode - kKernelKeycodeOffset)) state.down.set(code);
    for (unsigned button = BTN_LEFT; button <= BTN_TASK; ++button)
        if (held.test(button))
            if (const KeyCode code = CodeOfKernelButton(button)) state.down.set(code);
    return state;
}

} // namespace keys
