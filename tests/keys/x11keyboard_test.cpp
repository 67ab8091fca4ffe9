#include "keys/keyboardcases.h"
#include "keys/keyprobe.h"
#include "keys/keysequence.h"
#include "keys/x11/x11keyboard.h"

// Before the X headers, whose macros (None, Bool) break it.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>

#include <algorithm>
#include <poll.h>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

class X11KeyboardTest : public ::testing::Test {
protected:
    // One connection for the whole suite: Xvfb resets, and refuses connections for a moment, whenever
    // its last client leaves.
    static void SetUpTestSuite() {
        for (int attempt = 0; attempt < 40 && std::getenv("DISPLAY") && !shared; ++attempt)
            if (!(shared = keys::X11Keyboard::open())) std::this_thread::sleep_for(50ms);
    }
    static void TearDownTestSuite() { shared.reset(); }

    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set: run under scripts/with-desktop.sh";
        ASSERT_TRUE(shared) << "cannot open the display";
        kb = shared.get();
        other = XOpenDisplay(nullptr);
    }
    void TearDown() override {
        if (other) XCloseDisplay(other);
    }

    void setLayout(const std::string& layout) {
        ASSERT_EQ(std::system(("setxkbmap " + layout).c_str()), 0) << layout;
        kb->snapshot();
    }

    // The probe window, in another process, receives the keys `names` (space separated) for `text`, and no
    // more within a moment.
    void expectTyped(const std::string& text, const std::string& names) {
        keys::testing::KeyProbe probe;
        ASSERT_TRUE(probe.ready()) << "the probe window did not get the focus";
        keys::SendKeySequence(text, *kb);
        std::string all;
        for (auto [count, timeout] : {std::pair{std::count(names.begin(), names.end(), ' ') + 1, 3000ms}, {1, 100ms}})
            for (const std::string& name : probe.read(size_t(count), timeout))
                all += (all.empty() ? "" : " ") + name;
        EXPECT_EQ(all, names) << text;
    }

    // Whether the X key `keycode` types `ch` at some shift level.
    bool types(unsigned keycode, char32_t ch) {
        for (int level = 0; level < 4; ++level)
            if (XkbKeycodeToKeysym(kb->display(), KeyCode(keycode), 0, level) == KeySym(ch)) return true;
        return false;
    }

    static inline std::unique_ptr<keys::X11Keyboard> shared;
    keys::X11Keyboard* kb = nullptr;
    Display* other = nullptr; // another client, pressing keys as the user would
};

TEST_F(X11KeyboardTest, AnotherProcessReceivesExactlyWhatWasTyped) {
    setLayout("us");
    const std::pair<const char*, const char*> cases[] = {
        {"abc;1;2", "a b c 1 2"},
        {"[shift]2;[shift]a;[SHIFT]/", "Shift_L at Shift_L A Shift_L question"},
        {";;;[[;]];,;.;-;=;'", "semicolon bracketleft bracketright comma period minus equal apostrophe"},
        {"[f1];[f12];[enter];[tab];[esc];[back];a b", "F1 F12 Return Tab Escape BackSpace a space b"},
        {"Hello;ωxω", "h e l l o Greek_omega x Greek_omega"}, // a key named twice is typed twice
        {"ω;x;Ω;ω", "Greek_omega x Greek_OMEGA Greek_omega"}, // characters no key types, on lent keys
        {"[left][up][right][down];[home];[end];[pgup];[pgdn];[del];[ins]",
         "Left Up Right Down Home End Prior Next Delete Insert"},
    };
    for (const auto& [text, names] : cases)
        expectTyped(text, names);
    // Lent keys outlive the sequence, for a window that reads its events late, and are given back by the tick.
    const auto lent = [] { // on a new connection: an open one keeps the mapping it first read
        Display* d = XOpenDisplay(nullptr);
        const bool found = XKeysymToKeycode(d, XStringToKeysym("Greek_omega")) != 0;
        return XCloseDisplay(d), found;
    };
    EXPECT_TRUE(lent());
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    kb->snapshot();
    EXPECT_FALSE(lent()) << "the keys lent to type ω are given back";
}

// More different characters without a key than there are spare keys to lend: every one arrives, in
// order, in one chord or one a chord, among keys of the layout.
TEST_F(X11KeyboardTest, CharactersNoKeyHasAllArriveWhateverTheirNumber) {
    setLayout("us");
    const auto utf8 = [](char32_t c) {
        return std::string{char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    };
    const auto name = [](char32_t c) {
        char text[16];
        std::snprintf(text, sizeof text, "U%04X", unsigned(c));
        return std::string(text);
    };
    std::string chord = "[shift]a", chordNames = "Shift_L A", parts, partNames;
    for (char32_t c = 0x4E00; c < 0x4E00 + 40; ++c)
        chord += utf8(c), chordNames += " " + name(c);
    chord += "b", chordNames += " B";
    // A few characters come back often, as in a text: their keys stay lent between them.
    for (int i = 0; i < 60; ++i) {
        const char32_t c = i % 2 == 0 ? 0x3042 + (i / 2) % 4 : 0x5000 + char32_t(i);
        parts += (parts.empty() ? "" : ";") + utf8(c) + (i % 20 == 0 ? ";x" : "");
        partNames += (partNames.empty() ? "" : " ") + name(c) + (i % 20 == 0 ? " x" : "");
    }
    expectTyped(chord, chordNames);
    expectTyped(parts, partNames);
}

// The server's own record (RECORD) of every key and button event, whoever sent it; keys and buttons the
// user presses come from another client through XTest.
class X11Rig : public keys::testing::KeyboardRig {
public:
    X11Rig(keys::X11Keyboard& kb, Display* other)
        : kb_(kb), other_(other), control_(XOpenDisplay(nullptr)), data_(XOpenDisplay(nullptr)) {
        XRecordRange* range = XRecordAllocRange();
        range->device_events.first = KeyPress;
        range->device_events.last = MotionNotify;
        XRecordClientSpec clients = XRecordAllClients;
        context_ = XRecordCreateContext(control_, 0, &clients, 1, &range, 1);
        XFree(range);
        XSync(control_, False);
        ok_ = context_ && XRecordEnableContextAsync(data_, context_, &X11Rig::Intercept, XPointer(this));
    }
    ~X11Rig() override {
        if (context_) {
            XRecordDisableContext(control_, context_);
            XSync(control_, False);
            // The data connection waits for the end of the record before it can close.
            pump([this] { return ended_ || !ok_; });
            XRecordFreeContext(control_, context_);
        }
        XCloseDisplay(data_);
        XCloseDisplay(control_);
    }
    bool ok() const { return ok_; }
    keys::Keyboard& keyboard() override { return kb_; }

    bool userKey(keys::KeyCode code, bool down) override {
        static constexpr std::pair<keys::KeyCode, unsigned> buttons[] = {{0x01, 1}, {0x04, 2}, {0x02, 3}};
        const auto button =
            std::find_if(std::begin(buttons), std::end(buttons), [&](auto b) { return b.first == code; });
        if (button != std::end(buttons))
            XTestFakeButtonEvent(other_, button->second, down, CurrentTime);
        else
            XTestFakeKeyEvent(other_, kb_.keycodeOf(code), down, CurrentTime);
        XSync(other_, False);
        return true;
    }

    // A pointer motion marks the end: everything before it has been recorded once it comes back.
    std::optional<std::string> arrived() override {
        XTestFakeMotionEvent(other_, -1, 10 + int(++marks_ % 2), 10, CurrentTime);
        XSync(other_, False);
        marked_ = false;
        EXPECT_TRUE(pump([this] { return marked_; })) << "the record comes back";
        std::string out = std::move(events_);
        events_.clear();
        return out;
    }

private:
    // Reads the record until `done`, for at most a few seconds.
    template <typename Done> bool pump(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{ConnectionNumber(data_), POLLIN, 0};
            poll(&p, 1, 20);
            XRecordProcessReplies(data_);
        }
        return done();
    }
    static void Intercept(XPointer self, XRecordInterceptData* data) {
        auto& rig = *reinterpret_cast<X11Rig*>(self);
        if (data->category == XRecordEndOfData) rig.ended_ = true;
        if (data->category == XRecordFromServer && data->data_len * 4 >= 2) {
            const int type = data->data[0] & 0x7F, detail = data->data[1];
            if (type == MotionNotify)
                rig.marked_ = true;
            else
                rig.add(type == KeyPress || type == ButtonPress, rig.codeOf(type, unsigned(detail)));
        }
        XRecordFreeData(data);
    }
    keys::KeyCode codeOf(int type, unsigned detail) {
        if (type == ButtonPress || type == ButtonRelease) return detail == 1 ? 0x01 : detail == 2 ? 0x04 : 0x02;
        for (unsigned code = 1; code < 255; ++code) // Ctrl before left Ctrl
            if (kb_.keycodeOf(keys::KeyCode(code)) == detail) return keys::KeyCode(code);
        return 0;
    }
    void add(bool down, keys::KeyCode code) {
        events_ += (events_.empty() ? "" : " ") + std::string(down ? "+" : "-") + keys::testing::Hex(code);
    }

    keys::X11Keyboard& kb_;
    Display* other_;
    Display* control_;
    Display* data_;
    XRecordContext context_ = 0;
    bool ok_ = false, marked_ = false, ended_ = false;
    unsigned marks_ = 0;
    std::string events_;
};

TEST_F(X11KeyboardTest, ShowsTheBehaviourOfEveryBackEnd) {
    setLayout("us");
    ASSERT_TRUE(other);
    X11Rig rig(*kb, other);
    ASSERT_TRUE(rig.ok()) << "the X server records events (RECORD)";
    EXPECT_TRUE(keys::testing::ExpectWatchBehaviour(rig));
    EXPECT_TRUE(keys::testing::ExpectSendBehaviour(rig));
    EXPECT_EQ(kb->sendsThrough() + " " + kb->watchesThrough(), "X11 X11");
}

// Every Latin-1 character that a key of the typing block types gets a code whose key carries it.
TEST_F(X11KeyboardTest, CharacterCodesFollowTheLayoutInForce) {
    const struct {
        const char* layout;
        std::u32string chars;
        const char* codes;
    } cases[] = {{"us", U";=,-./`[\\]'aA& z", "BA BB BC BD BE BF C0 DB DC DD DE 41 41 37 20 5A"},
                 {"de", U"zy+-@", "5A 59 BB BD 51"}, // @ is AltGr+Q: the key, shift state dropped
                 {"fr", U"a", "41"}};
    for (const auto& c : cases) {
        setLayout(c.layout);
        std::istringstream codes(c.codes);
        for (int i = 0, code; codes >> std::hex >> code; ++i)
            EXPECT_EQ(kb->keyCodeOfChar(c.chars[size_t(i)]), code) << c.layout << " #" << i;
        for (char32_t ch = 0x21; ch <= 0xFF; ++ch) {
            // Typed by the digit row to the bottom row, the ISO key or the space bar: the code must lead there.
            bool typed = types(65, ch) || types(94, ch);
            for (unsigned keycode = 10; keycode <= 61 && !typed; ++keycode)
                typed = types(keycode, ch);
            EXPECT_TRUE(!typed || types(kb->keycodeOf(kb->keyCodeOfChar(ch)), ch))
                << c.layout << " U+" << std::hex << unsigned(ch);
        }
    }
    EXPECT_EQ(kb->keycodeOf('A'), 24u) << "the French A is where the US Q is";
    setLayout("de");
    expectTyped("y;z;[shift]7", "y z Shift_L slash");
    setLayout("us");
}

TEST_F(X11KeyboardTest, SwitchingTheLayoutGroupIsSeenAtTheNextTick) {
    setLayout("-layout us,de");
    ASSERT_TRUE(other);
    for (unsigned group : {0u, 1u, 0u}) {
        XkbLockGroup(other, XkbUseCoreKbd, group);
        XSync(other, False);
        kb->snapshot();
        EXPECT_EQ(kb->keyCodeOfChar(U'ß') != keys::kNoKey, group == 1);
        EXPECT_EQ(kb->keycodeOf('Z'), group == 1 ? 29u : 52u) << "the German Z sits where the US Y does";
    }
    setLayout("us");
}

} // namespace
