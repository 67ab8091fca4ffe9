#include "commands/agent.h"

#include "commands/programstarter.h"
#include "keys/keysequence.h"
#include "speech/speechengine.h"

#include <QStringList>

#include <algorithm>
#include <utility>

namespace {
// Only high-confidence recognitions act: the engine's classes are -1, 0 and 1.
constexpr float kMinConfidence = 0.9f;
constexpr std::string_view kListeningHotKey = "[ctrl]l";
} // namespace

QString TrimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

Agent::Agent(AgentHost& host, SpeechEngine& speech, keys::Keyboard& keyboard, ProgramStarter& programs)
    : host_(host), speech_(&speech), keyboard_(keyboard), typing_(keyboard), programs_(programs) {}

namespace {
// Stands in for a released speech object, so that a handler still running during shutdown
// (inside a message box, say) cannot reach a destroyed one.
class SilentSpeech : public SpeechEngine {
public:
    void SetWords(const QString&, const QString&) override {}
    bool StartListen(const QString&) override { return false; }
    void StopListen(const QString&) override {}
    void SetDevice(const QString&) override {}
    QStringList GetDeviceList() override { return {}; }
    void Speak(const QString&) override {}
    bool HasAudioInput() const override { return false; }
};
} // namespace

void Agent::ReleaseSpeech() {
    static SilentSpeech silent;
    speech_ = &silent;
}

void Agent::RunCommand(const KeyCommand& command) {
    const QString& type = command.Type;
    if (type == Kind::SendKeys) {
        typing_.type(command.Value.toStdString());
    } else if (type == Kind::MouseAction) {
        // A recognised kind without an effect.
    } else if (type == Kind::ExecuteProgram) {
        QString error;
        if (!programs_.Start(command.Value, &error))
            host_.Notify(QStringLiteral("Vorlix could not start a program"),
                         QStringLiteral("%1\n%2").arg(command.Value, error));
    } else if (type == Kind::ShowMessage) {
        host_.ShowMessage(command.Value);
    } else if (type == Kind::SayMessage) {
        speech_->Speak(command.Value);
    }
}

void Agent::UpdateVoice() {
    QString words;
    Phrases phrases = Phrases::VoiceCommands;
    if (settings.ListenCommand.isEmpty() || mode != ListenMode::WindowClosed) {
        for (const KeyCommand& command : std::as_const(commands))
            if (command.ActionType == Kind::VoiceCommand) words += command.Watch + QLatin1Char(',');
    } else {
        words = settings.ListenCommand + QLatin1Char(',');
        phrases = Phrases::ListenPhrases;
    }
    // With no phrases the recogniser keeps the list it had.
    if (!words.isEmpty()) {
        words.chop(1);
        speech_->SetWords(RuleName, words);
    }
    host_.PhrasesChanged(phrases);
}

void Agent::onRecognized(const QString& text, float confidence) {
    if (!(confidence > kMinConfidence)) return;
    const QString heard = text.toLower();
    if (mode == ListenMode::WindowClosed && !TrimBlanks(settings.ListenCommand).isEmpty()) {
        const QStringList pieces = settings.ListenCommand.split(QLatin1Char(','));
        for (const QString& piece : pieces) {
            if (heard == piece.toLower()) {
                mode = ListenMode::WindowOpen;
                UpdateVoice();
                windowTicks = 0;
                break;
            }
        }
        if (settings.ResponseListen && !TrimBlanks(settings.Response).isEmpty()) speech_->Speak(settings.Response);
        return;
    }
    // Walk by index: an action (a message box) may let an edit change the list meanwhile.
    for (int slot = 1; slot <= commands.count(); ++slot) {
        const KeyCommand command = std::as_const(commands)[slot];
        if (command.ActionType.toLower() == QLatin1String("voice command") && command.Watch.toLower() == heard) {
            RunCommand(command);
            if (!TrimBlanks(settings.ListenCommand).isEmpty()) {
                mode = ListenMode::WindowClosed;
                UpdateVoice();
            }
        }
    }
    if (settings.ResponseCommand && !TrimBlanks(settings.Response).isEmpty()) speech_->Speak(settings.Response);
}

void Agent::toggleListening() {
    listening_ = !listening_;
    host_.ListeningChanged(listening_);
    if (listening_) {
        speech_->StartListen(RuleName);
        UpdateVoice();
    } else {
        speech_->StopListen(RuleName);
    }
}

void Agent::ListeningTimeoutStep() {
    if (settings.ListenCommand.isEmpty() || mode != ListenMode::WindowOpen) return;
    ++windowTicks;
    if (windowTicks == qint64(settings.ListenTime) * 10) {
        mode = ListenMode::WindowClosed;
        UpdateVoice();
    }
}

std::shared_ptr<const Agent::ParsedWatches> Agent::KeyWatches() {
    if (keyWatches_ && keyWatchesRevision_ == commands.revision()) return keyWatches_;
    auto watches = std::make_shared<ParsedWatches>();
    const CommandList& list = commands;
    for (int slot = 1; slot <= list.count(); ++slot)
        if (list[slot].ActionType == Kind::KeyWatch)
            watches->push_back({slot, keys::KeyWatch(list[slot].Watch.toStdString())});
    keyWatches_ = std::move(watches);
    keyWatchesRevision_ = commands.revision();
    return keyWatches_;
}

void Agent::tick() {
    static const keys::KeyWatch listeningHotKey(kListeningHotKey);
    const keys::KeyState state = keyboard_.snapshot();
    // While a text is still being typed, the keys down may be its own, and a watch held meanwhile would
    // queue its text again at every tick, to be typed long after the keys were let go.
    const bool typing = !typing_.idle();
    if (!typing && listeningHotKey.isHeld(state, keyboard_)) toggleListening();
    ListeningTimeoutStep();
    if (typing) return;
    std::shared_ptr<const ParsedWatches> watches = KeyWatches();
    for (size_t i = 0; i < watches->size(); ++i) {
        const int slot = (*watches)[i].slot;
        if (!(*watches)[i].watch.isHeld(state, keyboard_)) continue;
        const KeyCommand command = std::as_const(commands)[slot];
        const quint64 revision = commands.revision();
        RunCommand(command);
        if (commands.revision() == revision) continue;
        // The action waited (a message box) and the list changed meanwhile: go on after this slot of the
        // new list, as a walk by slot would.
        watches = KeyWatches();
        i = size_t(std::upper_bound(watches->begin(), watches->end(), slot,
                                    [](int s, const ParsedWatch& w) { return s < w.slot; }) -
                   watches->begin()) -
            1;
    }
}

void Agent::RunMenuCommands(const QString& kind, const QString& caption) {
    for (int slot = 1; slot <= commands.count(); ++slot) {
        const KeyCommand command = std::as_const(commands)[slot];
        if (command.ActionType == kind && command.Watch == caption) RunCommand(command);
    }
}

template <typename T> void Agent::Edit(T& setting, const T& value) {
    if (setting == value) return;
    setting = value;
    host_.Edited();
}

void Agent::setListenCommand(const QString& phrases) {
    Edit(settings.ListenCommand, phrases);
    UpdateVoice();
}

void Agent::setListenTime(qint32 seconds) {
    Edit(settings.ListenTime, seconds);
}

void Agent::useDefaultListenTime() {
    if (settings.ListenTime == 0) setListenTime(AgentSettings::DefaultListenTime);
}

void Agent::setResponse(const QString& text) {
    Edit(settings.Response, text);
}

void Agent::setResponseListen(bool on) {
    Edit(settings.ResponseListen, on);
}

void Agent::setResponseCommand(bool on) {
    Edit(settings.ResponseCommand, on);
}

void Agent::setStartupText(const QString& text) {
    Edit(settings.StartupText, text);
}

void Agent::setDevice(const QString& name) {
    Edit(settings.DeviceName, name);
    UpdateDevice();
}

void Agent::UpdateDevice() {
    // A new device drops the recogniser's rule: the phrases go in again, but stay inactive until
    // listening is next switched on.
    const QString& device = settings.DeviceName;
    if (device == AgentSettings::DefaultDevice) {
        speech_->SetDevice(QString());
        UpdateVoice();
    } else if (!device.isEmpty()) {
        speech_->SetDevice(device);
        UpdateVoice();
    }
}

void Agent::addCommand(const KeyCommand& command) {
    commands.append(command);
    refreshCommands();
    host_.Edited();
}

bool Agent::changeCommand(int slot, const KeyCommand& command) {
    if (slot < 1 || slot > commands.count()) return false;
    KeyCommand& changed = commands[slot];
    const qint64 row = changed.RowId;
    changed = command;
    changed.RowId = row;
    refreshCommands();
    host_.Edited();
    return true;
}

bool Agent::removeCommand(int slot) {
    if (slot < 1 || slot > commands.count()) return false;
    commands.remove(slot);
    refreshCommands();
    host_.Edited();
    return true;
}

void Agent::refreshCommands() {
    host_.CommandsChanged();
    UpdateVoice();
}
