#include "keys/evdev/evdevwatcher.h"
#include "keys/keyboardcases.h"
#include "keys/namedlayout.h"
#include "keys/null/nullkeyboard.h"
#include "keys/pairedkeyboard.h"
#include "keys/xkb/kernelcodes.h"

#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/input.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

void Write(int fd, unsigned short type, unsigned short code, int value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    ASSERT_EQ(::write(fd, &e, sizeof e), ssize_t(sizeof e));
}

void Key(int fd, unsigned code, int value) {
    Write(fd, EV_KEY, (unsigned short)code, value);
    Write(fd, EV_SYN, SYN_REPORT, 0);
}

// A watcher whose "kernel" answers the keys held now from `now`, as EVIOCGKEY would.
class Watcher : public keys::EvdevWatcher {
public:
    using EvdevWatcher::EvdevWatcher;
    Held now;
    int asked = 0;

protected:
    bool readHeld(int, Held& held) override {
        ++asked;
        held = now;
        return true;
    }
};

// Devices are pipes: the test writes input_event records into them as the kernel would.
struct Device {
    int in = -1, out = -1;
    Device() {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        out = fds[0];
        in = fds[1];
    }
    ~Device() { ::close(in); }
};

unsigned KernelCode(const keys::XkbLayout& layout, keys::KeyCode code) {
    if (const unsigned button = keys::KernelButtonOf(code)) return button;
    return layout.keycodeOf(code) - keys::kKernelKeycodeOffset;
}

// The user's keyboard and mouse, each a device of its own, watched beside a sender that types nowhere.
class EvdevRig : public keys::testing::KeyboardRig {
public:
    explicit EvdevRig(const char* layout = "us") : layout_(keys::NamedLayout(layout)) {
        auto watcher = std::make_unique<Watcher>(layout_, "/nonexistent");
        watcher->addDevice(keyboardDevice.out, "keyboard");
        watcher->addDevice(mouseDevice.out, "mouse");
        watcher_ = watcher.get();
        kb = std::make_unique<keys::PairedKeyboard>(std::make_unique<keys::NullKeyboard>(), std::move(watcher));
    }
    keys::Keyboard& keyboard() override { return *kb; }
    bool userKey(keys::KeyCode code, bool down) override {
        Key(keys::KernelButtonOf(code) ? mouseDevice.in : keyboardDevice.in, KernelCode(layout_, code), down);
        return true;
    }
    Watcher& watcher() { return *watcher_; }

    Device keyboardDevice, mouseDevice;
    keys::XkbLayout layout_;
    std::unique_ptr<keys::PairedKeyboard> kb;

private:
    Watcher* watcher_;
};

TEST(EvdevWatcher, ShowsTheBehaviourOfEveryBackEnd) {
    EvdevRig rig;
    EXPECT_TRUE(keys::testing::ExpectWatchBehaviour(rig));
    EXPECT_EQ(rig.kb->watchesThrough(), "input devices (/dev/input)");
    EXPECT_EQ(rig.kb->sendsThrough(), "");
}

TEST(EvdevWatcher, KeepsTheStateBetweenEventsAndAcrossDevices) {
    EvdevRig rig("fr");
    keys::Keyboard& kb = rig.keyboard();
    // Ctrl on one device, the letter on another: the watch sees them together, as the desktop does.
    rig.userKey(0x11, true);
    Key(rig.mouseDevice.in, KEY_Q, 1); // a mouse with keys: the key of "a" on a French layout
    EXPECT_TRUE(keys::IsKeyWatchHeld("[ctrl]a", kb.snapshot(), kb));
    // A repeat (2) is a key still down, and a look with nothing new to read keeps what is held.
    Key(rig.mouseDevice.in, KEY_Q, 2);
    EXPECT_TRUE(keys::IsKeyWatchHeld("[ctrl]a", kb.snapshot(), kb));
    EXPECT_TRUE(keys::IsKeyWatchHeld("[ctrl]a", kb.snapshot(), kb));
    Key(rig.mouseDevice.in, KEY_Q, 0);
    EXPECT_FALSE(keys::IsKeyWatchHeld("[ctrl]a", kb.snapshot(), kb));
    EXPECT_TRUE(kb.snapshot().isDown(0x11));
    rig.userKey(0x11, false);
    EXPECT_FALSE(kb.snapshot().isDown(0x11));
    // Letters are named by the layout's characters.
    EXPECT_EQ(kb.keyCodeOfChar(U'a'), 'A');
    EXPECT_EQ(rig.layout_.keycodeOf('A') - 8, unsigned(KEY_Q));
}

TEST(EvdevWatcher, KeysHeldAtOpeningAndLostEventsComeFromTheKernel) {
    const keys::XkbLayout layout = keys::NamedLayout("us");
    Watcher watcher(layout, "/nonexistent");
    watcher.now.set(KEY_LEFTCTRL);
    Device device;
    watcher.addDevice(device.out, "keyboard");
    EXPECT_TRUE(watcher.snapshot().isDown(0x11)) << "a key held when the watch began";

    // The kernel's buffer overflowed: nothing between the drop and the next report is believed, and the
    // kernel's own state replaces the one kept.
    watcher.now.reset();
    watcher.now.set(KEY_F5);
    const int asked = watcher.asked;
    Write(device.in, EV_SYN, SYN_DROPPED, 0);
    Write(device.in, EV_KEY, KEY_A, 1);
    Write(device.in, EV_SYN, SYN_REPORT, 0);
    const keys::KeyState state = watcher.snapshot();
    EXPECT_EQ(watcher.asked, asked + 1);
    EXPECT_FALSE(state.isDown(0x11)) << "the Ctrl let go while events were lost";
    EXPECT_FALSE(state.isDown('A')) << "an event from the lost stretch";
    EXPECT_TRUE(state.isDown(0x74));
    Key(device.in, KEY_F5, 0);
    EXPECT_FALSE(watcher.snapshot().isDown(0x74)) << "events count again after the report";
    // Records of other kinds, and key codes past the kernel's range, change nothing.
    Write(device.in, EV_REL, REL_X, 5);
    Write(device.in, EV_KEY, 0xFFFF, 1);
    Write(device.in, EV_SYN, SYN_REPORT, 0);
    EXPECT_EQ(watcher.snapshot().down.count(), 0u);
}

// A machine's sysfs and /dev, made of files and FIFOs.
class FakeMachine {
public:
    FakeMachine() : root(dir.path().toStdString()) {
        fs::create_directories(root + "/sys/class/input");
        fs::create_directories(root + "/dev/input");
    }
    // A device with the `ev` and `key` capability masks; `devname` overrides the node's name.
    std::string add(const std::string& event, const std::string& name, const std::string& ev, const std::string& key,
                    const std::string& devname = {}) {
        const std::string at = root + "/sys/class/input/" + event;
        fs::create_directories(at + "/device/capabilities");
        std::ofstream(at + "/device/name") << name << "\n";
        std::ofstream(at + "/device/capabilities/ev") << ev << "\n";
        std::ofstream(at + "/device/capabilities/key") << key << "\n";
        const std::string node = devname.empty() ? "input/" + event : devname;
        std::ofstream(at + "/uevent") << "MAJOR=13\nMINOR=64\nDEVNAME=" << node << "\n";
        const std::string path = root + "/dev/" + node;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
        // The test's end of the device; a FIFO without one reads as unplugged.
        writers[path] = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return path;
    }
    ~FakeMachine() {
        for (const auto& [path, fd] : writers)
            ::close(fd);
    }
    QTemporaryDir dir;
    std::map<std::string, int> writers;
    std::string root;
};

// The first 32 key bits (Esc to D) make a keyboard; BTN_LEFT (0x110) is in the fifth 64-bit word.
const char* const kKeyboardKeys = "0 0 0 0 fffffffffffffffe";
const char* const kMouseKeys = "1f0000 0 0 0 0";

TEST(EvdevWatcher, FindsEveryDeviceWithKeysInSysfs) {
    FakeMachine machine;
    const std::string keyboard = machine.add("event3", "AT keyboard", "120013", kKeyboardKeys);
    const std::string mouse = machine.add("event5", "USB mouse", "17", kMouseKeys, "input/mouse0");
    machine.add("event1", "Accelerometer", "9", "0");      // no key events at all
    machine.add("event7", "Sensor hub", "3", "0 0 0 0 0"); // key events, but no key
    const std::string power = machine.add("event0", "Power Button", "3", "10000000000000 0");
    const std::vector<keys::InputDevice> found = keys::FindInputDevices(machine.root);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].node, power);
    EXPECT_EQ(found[1].node, keyboard);
    EXPECT_EQ(found[1].name, "AT keyboard");
    EXPECT_EQ(found[2].node, mouse);
    EXPECT_TRUE(keys::FindInputDevices(machine.root + "/nothing").empty());
}

TEST(EvdevWatcher, OpensTheDevicesFoundAndOnesPluggedInLater) {
    FakeMachine machine;
    const std::string node = machine.add("event3", "AT keyboard", "120013", kKeyboardKeys);
    std::string why;
    auto watcher = keys::EvdevWatcher::open(keys::NamedLayout("us"), &why, machine.root);
    ASSERT_TRUE(watcher) << why;
    EXPECT_EQ(watcher->deviceCount(), 1u);
    const int keyboard = machine.writers[node];
    Key(keyboard, KEY_LEFTCTRL, 1);
    EXPECT_TRUE(watcher->snapshot().isDown(0x11));

    // A mouse plugged in: sysfs knows it before its node appears, as udev makes them.
    const std::string mouseNode = machine.add("event9", "USB mouse", "17", kMouseKeys);
    keys::KeyState state = watcher->snapshot();
    EXPECT_EQ(watcher->deviceCount(), 2u);
    const int mouse = machine.writers[mouseNode];
    Key(mouse, BTN_RIGHT, 1);
    state = watcher->snapshot();
    EXPECT_TRUE(state.isDown(0x02));
    EXPECT_TRUE(state.isDown(0x11)) << "the keyboard's state is kept";

    // The keyboard unplugged with Ctrl held: Ctrl is up, the mouse still watched.
    ::close(keyboard);
    machine.writers.erase(node);
    state = watcher->snapshot();
    EXPECT_FALSE(state.isDown(0x11));
    EXPECT_TRUE(state.isDown(0x02));
    EXPECT_EQ(watcher->deviceCount(), 1u);
}

TEST(EvdevWatcher, SaysWhyWhenNoDeviceCanBeRead) {
    FakeMachine empty;
    std::string why;
    EXPECT_FALSE(keys::EvdevWatcher::open(keys::NamedLayout("us"), &why, empty.root));
    EXPECT_NE(why.find("no keyboard or mouse"), std::string::npos) << why;

    // Devices the user may not read: the remedy is the input group. Checked as an ordinary user.
    FakeMachine locked;
    const std::string node = locked.add("event3", "AT keyboard", "120013", kKeyboardKeys);
    ASSERT_EQ(chmod(node.c_str(), 0600), 0);
    ASSERT_EQ(chmod(locked.root.c_str(), 0755), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        std::string reason;
        const bool opened = keys::EvdevWatcher::open(keys::NamedLayout("us"), &reason, locked.root) != nullptr;
        _exit(!opened && reason.find("sudo usermod -aG input $USER") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

} // namespace
