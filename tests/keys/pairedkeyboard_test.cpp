#include "keys/fakekeyboard.h"
#include "keys/keyboardcases.h"
#include "keys/pairedkeyboard.h"

#include <gtest/gtest.h>

using keys::testing::FakeKeyboard;

namespace {

// The fake as a desktop: a key the user holds is down, and a right-hand modifier counts as its
// plain one too, as every real back-end reports it.
void Hold(FakeKeyboard& kb, keys::KeyCode code, bool down) {
    kb.state.down.set(code, down);
    if (code >= 0xA0 && code <= 0xA5) kb.state.down.set(size_t(0x10 + (code - 0xA0) / 2), down);
}

// What was pressed and let go, without the ends of sequences.
std::string Arrived(FakeKeyboard& kb) {
    std::string out;
    for (const std::string& e : kb.events)
        if (e != "flush") out += (out.empty() ? "" : " ") + e;
    kb.events.clear();
    return out;
}

class PairedRig : public keys::testing::KeyboardRig {
public:
    FakeKeyboard* sender = new FakeKeyboard;
    FakeKeyboard* watcher = new FakeKeyboard;
    keys::PairedKeyboard kb{std::unique_ptr<keys::Keyboard>(sender), std::unique_ptr<keys::KeyWatcher>(watcher)};
    keys::Keyboard& keyboard() override { return kb; }
    bool userKey(keys::KeyCode code, bool down) override { return Hold(*watcher, code, down), true; }
    std::optional<std::string> arrived() override { return Arrived(*sender); }
};

} // namespace

TEST(PairedKeyboard, TypesThroughTheSenderAndWatchesThroughTheWatcher) {
    PairedRig rig;
    EXPECT_TRUE(keys::testing::ExpectWatchBehaviour(rig));
    EXPECT_TRUE(keys::testing::ExpectSendBehaviour(rig));
    EXPECT_TRUE(rig.sender->state.down.none() && rig.watcher->events.empty()) << "each half does its own part";

    // Either half's trouble is told through the pair, whenever the listener was set.
    std::vector<std::string> told;
    rig.kb.reportProblem = [&](const std::string& text) { told.push_back(text); };
    rig.sender->problem("no uinput");
    rig.watcher->problem("device gone");
    EXPECT_EQ(told, (std::vector<std::string>{"no uinput", "device gone"}));
}

TEST(PairedKeyboard, CharactersFollowTheLayoutThatTypesOrElseTheWatchers) {
    // A sender whose layout lacks a character types it on a lent key: it must not get the watcher's code.
    struct NoOmega : FakeKeyboard {
        keys::KeyCode keyCodeOfChar(char32_t ch) override { return ch == U'x' ? keys::kNoKey : 'X'; }
    };
    keys::PairedKeyboard typing(std::make_unique<NoOmega>(), std::make_unique<FakeKeyboard>());
    EXPECT_EQ(typing.keyCodeOfChar(U'x'), keys::kNoKey);
    EXPECT_EQ(typing.keyCodeOfChar(U'a'), 'X');

    // Nothing types: watches still name their letters through the watcher.
    auto mute = std::make_unique<NoOmega>();
    mute->sends.clear();
    auto watcher = std::make_unique<FakeKeyboard>();
    watcher->hold({0x11, 'X'});
    keys::PairedKeyboard watching(std::move(mute), std::move(watcher));
    EXPECT_EQ(watching.keyCodeOfChar(U'x'), 'X');
    EXPECT_TRUE(keys::IsKeyWatchHeld("[ctrl]x", watching.snapshot(), watching));
}
