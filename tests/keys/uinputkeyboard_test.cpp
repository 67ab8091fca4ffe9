#include "keys/keyboardcases.h"
#include "keys/namedlayout.h"
#include "keys/uinput/uinputkeyboard.h"
#include "keys/xkb/kernelcodes.h"
#include "keys/xkb/systemkeymap.h"

#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <thread>
#include <unistd.h>

namespace {

// The far end of the device: a pipe whose records the test reads back as the compositor would.
class UinputRig : public keys::testing::KeyboardRig {
public:
    explicit UinputRig(const char* layout = "us") {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        in = fds[0];
        kb = std::make_unique<keys::UinputKeyboard>(fds[1], keys::NamedLayout(layout), layout);
        kb->reportProblem = [this](const std::string& text) { told.push_back(text); };
        // The virtual key each kernel code reports: the lowest that goes out as it (Ctrl before left Ctrl).
        for (unsigned code = 254; code >= 1; --code)
            if (const unsigned kernel = kb->kernelCodeOf(keys::KeyCode(code))) codeOf[kernel] = keys::KeyCode(code);
    }
    ~UinputRig() override {
        kb.reset();
        close(in);
    }
    keys::Keyboard& keyboard() override { return *kb; }

    // Every record read so far must be a key event and its report; anything else fails the test.
    std::optional<std::string> arrived() override {
        std::string out;
        for (const input_event& e : read()) {
            if (e.type == EV_SYN) continue;
            EXPECT_EQ(e.type, EV_KEY);
            out += (out.empty() ? "" : " ") + std::string(e.value ? "+" : "-") +
                   keys::testing::Hex(codeOf[e.code & 0x1FF]);
        }
        return out;
    }

    std::vector<input_event> read() {
        std::vector<input_event> events;
        input_event e;
        while (::read(in, &e, sizeof e) == ssize_t(sizeof e))
            events.push_back(e);
        for (size_t i = 0; i < events.size(); ++i)
            EXPECT_EQ(events[i].type == EV_KEY ? 0 : 1, int(i % 2)) << "a report follows every key event";
        return events;
    }

    int in = -1;
    std::unique_ptr<keys::UinputKeyboard> kb;
    std::vector<std::string> told;
    std::array<keys::KeyCode, 0x200> codeOf{};
};

} // namespace

TEST(UinputKeyboard, ShowsTheBehaviourOfEveryBackEnd) {
    UinputRig rig;
    EXPECT_TRUE(keys::testing::ExpectSendBehaviour(rig));
    EXPECT_FALSE(keys::testing::ExpectWatchBehaviour(rig)) << "a device of our own sees no one else's keys";
}

TEST(UinputKeyboard, KeysGoOutAtTheirPlaceOnTheLayoutInForce) {
    UinputRig us;
    EXPECT_EQ(us.kb->kernelCodeOf('A'), unsigned(KEY_A));
    EXPECT_EQ(us.kb->kernelCodeOf(0x11), unsigned(KEY_LEFTCTRL));
    EXPECT_EQ(us.kb->kernelCodeOf(0xA3), unsigned(KEY_RIGHTCTRL));
    EXPECT_EQ(us.kb->kernelCodeOf(0x74), unsigned(KEY_F5));
    EXPECT_EQ(us.kb->kernelCodeOf(0x05), unsigned(BTN_SIDE));
    EXPECT_EQ(us.kb->kernelCodeOf(0x06), unsigned(BTN_EXTRA));
    EXPECT_EQ(us.kb->kernelCodeOf(0xFE), 0u) << "a code with no key sends nothing";

    UinputRig de("de");
    EXPECT_EQ(de.kb->keyCodeOfChar(U'z'), 'Z');
    EXPECT_EQ(de.kb->kernelCodeOf('Z'), unsigned(KEY_Y)) << "the German Z sits where the US Y does";
    EXPECT_NE(de.kb->keyCodeOfChar(U'ß'), keys::kNoKey);
    keys::SendKeySequence("z", *de.kb);
    const std::vector<input_event> events = de.read();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].code, KEY_Y);
}

TEST(UinputKeyboard, ACharacterNoKeyTypesIsLeftOutAndSaidOnce) {
    UinputRig rig;
    keys::SendKeySequence("aωb;Ω", *rig.kb);
    EXPECT_EQ(*rig.arrived(), "+41 +42 -41 -42");
    ASSERT_EQ(rig.told.size(), 1u);
    EXPECT_NE(rig.told[0].find("\"ω\" cannot be typed"), std::string::npos) << rig.told[0];
    EXPECT_NE(rig.told[0].find("(us)"), std::string::npos) << rig.told[0];
}

TEST(UinputKeyboard, NoKeyStaysDownAfterIt) {
    UinputRig rig;
    keys::PressKey(0x11, *rig.kb);
    keys::PressKey('C', *rig.kb);
    keys::PressKey('C', *rig.kb);
    keys::ReleaseKey('C', *rig.kb);
    EXPECT_EQ(*rig.arrived(), "+11 +43 -43 +43");
    rig.kb.reset();
    EXPECT_EQ(*rig.arrived(), "-11 -43");
}

TEST(UinputKeyboard, AFullQueueDelaysKeysAndLosesNone) {
    UinputRig rig;
    fcntl(rig.in, F_SETPIPE_SZ, 4096); // room for about 85 events
    std::vector<input_event> events;
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (events.size() < 4000 && std::chrono::steady_clock::now() < deadline) {
            const std::vector<input_event> more = rig.read();
            events.insert(events.end(), more.begin(), more.end());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    keys::SendKeySequence(std::string(1000, 'a'), *rig.kb); // one chord: A goes down 1000 times
    reader.join();
    ASSERT_EQ(events.size(), 4000u) << "1000 presses and releases, each with its report";
    for (size_t i = 0; i < events.size(); i += 4)
        ASSERT_TRUE(events[i].code == KEY_A && events[i].value == 1 && events[i + 2].code == KEY_A &&
                    events[i + 2].value == 0)
            << i;
    EXPECT_TRUE(rig.told.empty());
}

TEST(UinputKeyboard, ADeviceThatGoesAwayIsSaidOnceAndTypesNothingMore) {
    std::signal(SIGPIPE, SIG_IGN);
    UinputRig rig;
    close(std::exchange(rig.in, -1));
    keys::SendKeySequence("hello", *rig.kb);
    keys::SendKeySequence("again", *rig.kb);
    ASSERT_EQ(rig.told.size(), 1u);
    EXPECT_NE(rig.told[0].find("Keys can no longer be typed through /dev/uinput"), std::string::npos) << rig.told[0];
    rig.kb.reset(); // and closing does not try again, nor hang
    EXPECT_EQ(rig.told.size(), 1u);
}

TEST(UinputKeyboard, ANodeThatCannotServeSaysWhyAndHowToMendIt) {
    std::string why;
    EXPECT_FALSE(keys::UinputKeyboard::open(keys::NamedLayout("us"), "us", &why, "/nonexistent/uinput"));
    EXPECT_NE(why.find("sudo modprobe uinput"), std::string::npos) << why;
    EXPECT_FALSE(keys::UinputKeyboard::open(keys::NamedLayout("us"), "us", &why, "/dev/null"));
    EXPECT_EQ(why.rfind("/dev/null is not a uinput device", 0), 0u) << why;
    if (geteuid() != 0) {
        const std::string locked = ::testing::TempDir() + "uinput-locked";
        std::ofstream(locked).put('x');
        chmod(locked.c_str(), 0);
        EXPECT_FALSE(keys::UinputKeyboard::open(keys::NamedLayout("us"), "us", &why, locked.c_str()));
        EXPECT_NE(why.find("70-vorlix-uinput.rules"), std::string::npos) << why;
        unlink(locked.c_str());
    }
    // On this machine, without a uinput module or with one, open says one or the other.
    why.clear();
    const bool opened = bool(keys::UinputKeyboard::open(&why));
    EXPECT_TRUE(opened || !why.empty());
}

TEST(UinputKeyboard, TheSystemLayoutComesFromTheEnvironmentOrTheMachinesKeyboardSettings) {
    const std::string file = ::testing::TempDir() + "keyboard";
    std::ofstream(file)
        << "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"de\"\nXKBVARIANT=\"nodeadkeys\"\n"
           "XKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\n";
    unsetenv("XKB_DEFAULT_LAYOUT");
    unsetenv("XKB_DEFAULT_VARIANT");
    keys::KeymapNames names = keys::SystemKeymapNames(file.c_str());
    EXPECT_EQ(names.layout + "/" + names.variant + "/" + names.model, "de/nodeadkeys/pc105");
    setenv("XKB_DEFAULT_LAYOUT", "fr", 1);
    names = keys::SystemKeymapNames(file.c_str());
    EXPECT_EQ(names.layout + "/" + names.variant, "fr/") << "the file's variant is not the French layout's";
    unsetenv("XKB_DEFAULT_LAYOUT");
    EXPECT_EQ(keys::SystemKeymapNames("/nonexistent").layout, "");

    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    std::string why;
    EXPECT_EQ(keys::SystemKeymap(context, {"", "no-such-layout", "", ""}, &why), nullptr);
    EXPECT_NE(why.find("\"no-such-layout\" does not compile"), std::string::npos) << why;
    xkb_keymap* keymap = keys::SystemKeymap(context, {});
    EXPECT_TRUE(keymap);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
}

#ifdef VORLIX_UINPUT_SEAT_KEYMAP
#include "keys/uinput/seatkeymap.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>

// Under a compositor (WAYLAND_DISPLAY set) its keymap, unless its seat has no keyboard (headless sway
// with no input device); a compositor that never answers, or hangs up, gives none within about a
// second, and nothing waits longer.
TEST(UinputKeyboard, TheLayoutOfTheWaylandSeatWhereOneAnswers) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    std::string name;
    if (std::getenv("WAYLAND_DISPLAY")) {
        const auto start = std::chrono::steady_clock::now();
        if (xkb_keymap* keymap = keys::SeatKeymap(context, &name)) {
            EXPECT_FALSE(name.empty());
            EXPECT_EQ(keys::XkbLayout(keymap, 0).codeOfChar(U'a'), 'A');
            xkb_keymap_unref(keymap);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << "it answers at once";
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = runtime ? runtime : "", display = std::getenv("WAYLAND_DISPLAY") ?: "";
    const std::string dir = ::testing::TempDir();
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    for (bool hangUp : {false, true}) {
        const std::string path = dir + "/silent-wayland";
        unlink(path.c_str());
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(server, 1), 0);
        std::thread peer([&] {
            const int client = accept(server, nullptr, nullptr);
            if (hangUp)
                close(client);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1500)), close(client);
        });
        setenv("WAYLAND_DISPLAY", "silent-wayland", 1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(keys::SeatKeymap(context, &name), nullptr) << (hangUp ? "hung up" : "silent");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "it gives up";
        peer.join();
        close(server);
        unlink(path.c_str());
    }
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(keys::SeatKeymap(context, &name), nullptr);
    if (runtime) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    if (!display.empty()) setenv("WAYLAND_DISPLAY", display.c_str(), 1);
    xkb_context_unref(context);
}
#endif
