#include "keys/openkeyboard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

// Run on the session the test finds: under Xvfb, and under headless sway (scripts/with-sway.sh).
TEST(OpenKeyboard, PicksTheBackEndsOfTheSession) {
    keys::KeyboardGaps gaps;
    auto kb = keys::openKeyboard(&gaps);
    ASSERT_TRUE(kb);
    const bool inputDevices = kb->watchesThrough() == "input devices (/dev/input)";
    if (keys::IsWaylandSession()) {
#ifdef VORLIX_WITH_WAYLAND
        EXPECT_EQ(kb->sendsThrough(), "Wayland virtual keyboard");
        EXPECT_EQ(gaps.noTyping, "");
#endif
        // XWayland sees no native window's keys: on Wayland only the input devices watch.
        EXPECT_NE(kb->watchesThrough(), "X11");
    } else if (std::getenv("DISPLAY")) {
#ifdef VORLIX_WITH_X11
        EXPECT_EQ(kb->sendsThrough() + " " + kb->watchesThrough(), "X11 X11");
        EXPECT_EQ(gaps.noTyping + gaps.noWatching, "");
#endif
    }
    // What cannot watch says why, and names no back-end.
    EXPECT_EQ(kb->watchesThrough().empty(), !gaps.noWatching.empty()) << gaps.noWatching;
    if (!inputDevices && kb->watchesThrough() != "X11") {
        EXPECT_NE(gaps.noWatching, "");
    }
    EXPECT_EQ(kb->sendsThrough().empty(), !gaps.noTyping.empty()) << gaps.noTyping;
}

TEST(OpenKeyboard, AWaylandSessionWithoutACompositorSaysWhy) {
    if (access("/dev/uinput", F_OK) == 0) GTEST_SKIP() << "this machine has /dev/uinput";
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    ASSERT_TRUE(keys::IsWaylandSession());
    keys::KeyboardGaps gaps;
    auto kb = keys::openKeyboard(&gaps);
    EXPECT_EQ(kb->sendsThrough(), "");
    EXPECT_NE(gaps.noTyping.find("/dev/uinput"), std::string::npos) << gaps.noTyping;
    // Nothing is typed, and nothing breaks.
    kb->press(0x41);
    kb->release(0x41);
    kb->flush();
    EXPECT_EQ(kb->snapshot().down.count(), 0u);
    setenv("XDG_SESSION_TYPE", "x11", 1);
    EXPECT_FALSE(keys::IsWaylandSession());
}
