#include "commands/keytyping.h"

#include <algorithm>

KeyTyping::KeyTyping(keys::Keyboard& keyboard) : keyboard_(keyboard) {
    resume_.setSingleShot(true);
    // The waits are a few milliseconds each; a coarse timer would stretch them by a good part.
    resume_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&resume_, &QTimer::timeout, [this] { sendSome(); });
}

KeyTyping::~KeyTyping() {
    sender_.abandon(keyboard_);
}

void KeyTyping::type(std::string_view text) {
    sender_.queue(text, keyboard_);
    if (!resume_.isActive()) sendSome();
}

void KeyTyping::sendSome() {
    const std::optional<keys::KeySender::Clock::time_point> next = sender_.send(keyboard_);
    if (!next) return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - keys::KeySender::Clock::now());
    resume_.start(std::max<int>(0, int(wait.count())));
}
