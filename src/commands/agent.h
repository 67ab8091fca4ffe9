#pragma once

#include "commands/commandtable.h"
#include "commands/keytyping.h"
#include "keys/keysequence.h"

#include <QString>
#include <memory>
#include <vector>

class ProgramStarter;
class SpeechEngine;
namespace keys {
class Keyboard;
}

// Every call into the recogniser names this rule.
inline const QString RuleName = QStringLiteral("ZQAgent");

// What the recogniser has been handed: the listen phrases, while it waits for one, or the voice commands.
enum class Phrases { ListenPhrases, VoiceCommands };

// Whether the listening window, opened by a listen phrase, is open.
enum class ListenMode { WindowClosed, WindowOpen };

// What the agent tells the desktop shell that hosts it; the shell decides how each is shown.
class AgentHost {
public:
    virtual ~AgentHost() = default;
    // The recogniser has been handed `phrases`; told whether listening is on or off.
    virtual void PhrasesChanged(Phrases phrases) = 0;
    // The listening switch was turned on or off.
    virtual void ListeningChanged(bool listening) = 0;
    // What follows the command list (the tray menus) should be rebuilt.
    virtual void CommandsChanged() = 0;
    // Settings or commands were edited; they should reach the settings file soon.
    virtual void Edited() = 0;
    // A modal information box titled "Vorlix"; returns when the user closes it.
    virtual void ShowMessage(const QString& text) = 0;
    // A short non-modal notification from the tray.
    virtual void Notify(const QString& title, const QString& text) = 0;
};

// The agent's state and behaviour without any widget: the command table and settings, carrying out
// actions, the voice trigger with its listening window and the key-watch tick.
class Agent {
public:
    Agent(AgentHost& host, SpeechEngine& speech, keys::Keyboard& keyboard, ProgramStarter& programs);

    AgentSettings settings;
    CommandList commands;
    ListenMode mode = ListenMode::WindowClosed;
    // Ticks since the listening window opened; 64-bit so that counting against ListenTime × 10 never overflows.
    qint64 windowTicks = 0;

    // Carries out one command's action.
    void RunCommand(const KeyCommand& command);

    // Hands the recogniser the phrases of the current listening mode.
    void UpdateVoice();
    // One utterance from the speech engine; only high-confidence ones act.
    void onRecognized(const QString& text, float confidence);
    void toggleListening();
    bool isListening() const { return listening_; }

    // One 100 ms tick: the listening hot key, the listening timeout, then every held key watch.
    void tick();

    // Runs every command of `kind` whose Watch equals `caption`, in list order (tray menu clicks).
    void RunMenuCommands(const QString& kind, const QString& caption);

    // Edits from the options window. Each changes the model and then does all that follows from it
    // (tray menus, the recogniser's phrases, a save soon), so that no caller can leave a step out.
    // A setting counts as edited only when its value changes.
    void setListenCommand(const QString& phrases); // hands the phrases over, changed or not
    void setListenTime(qint32 seconds);
    // A listening time of 0, as a new settings file has it, becomes the default.
    void useDefaultListenTime();
    void setResponse(const QString& text);
    void setResponseListen(bool on);
    void setResponseCommand(bool on);
    void setStartupText(const QString& text);
    // Stores the device name and applies it to the speech engine.
    void setDevice(const QString& name);
    void addCommand(const KeyCommand& command);
    // The command in `slot` takes the values of `command` and keeps its place in the settings file.
    // False when there is no such slot.
    bool changeCommand(int slot, const KeyCommand& command);
    bool removeCommand(int slot);
    // Rebuilds what follows the command list: the tray menus, then the recogniser's phrases.
    void refreshCommands();

    SpeechEngine& speech() { return *speech_; }
    // The speech object is going away: from now on nothing is heard or said.
    void ReleaseSpeech();

private:
    template <typename T> void Edit(T& setting, const T& value);
    void UpdateDevice();
    void ListeningTimeoutStep();

    struct ParsedWatch {
        int slot;
        keys::KeyWatch watch;
    };
    using ParsedWatches = std::vector<ParsedWatch>;
    // The watches of the "Key Watch" commands, parsed again only after the command list has changed.
    // Shared, so that a tick that is still walking them survives a rebuild by a nested one.
    std::shared_ptr<const ParsedWatches> KeyWatches();
    std::shared_ptr<const ParsedWatches> keyWatches_;
    quint64 keyWatchesRevision_ = 0;

    AgentHost& host_;
    SpeechEngine* speech_;
    keys::Keyboard& keyboard_;
    KeyTyping typing_;
    ProgramStarter& programs_;
    bool listening_ = true;
};
