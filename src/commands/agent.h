#pragma once

#include "commands/commandtable.h"
#include "keys/keysequence.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class SpeechEngine;
namespace keys {
class Keyboard;
}

// The tray images of the agent's states; WindowIcon is the window's own icon, shown while shutting down.
enum class TrayImage { WindowIcon = 0, Waiting = 1, Live = 2, NotListening = 3 };

namespace TrayTip {
inline const QString Loading = QStringLiteral("Vorlix (Loading...)");
inline const QString Running = QStringLiteral("Vorlix");
inline const QString NotListening = QStringLiteral("Not Listening");
inline const QString ShuttingDown = QStringLiteral("Vorlix (Shutting Down...)");
} // namespace TrayTip

inline const QString RuleName = QStringLiteral("ZQAgent");
inline const QString StopListeningCaption = QStringLiteral("Stop &Listening");
inline const QString StartListeningCaption = QStringLiteral("Start &Listening");

// What the agent's logic needs from the desktop shell that hosts it.
class AgentHost {
public:
    virtual ~AgentHost() = default;
    virtual void ModifyTrayIcon(TrayImage image, const QString& tip) = 0;
    virtual void SetListeningCaption(const QString& caption) = 0;
    // A modal information box titled "Vorlix"; returns when the user closes it.
    virtual void ShowMessage(const QString& text) = 0;
    // A short non-modal notification from the tray.
    virtual void Notify(const QString& title, const QString& text) = 0;
};

// Starts a program from a command line without waiting for it.
class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // False with a reason in `error` when the program could not be started.
    virtual bool Start(const QString& commandLine, QString* error) = 0;
};

// The agent's state and behaviour without any widget: the command table and settings, carrying out
// actions, the voice trigger with its listening window and the key-watch tick.
class Agent {
public:
    Agent(AgentHost& host, SpeechEngine& speech, keys::Keyboard& keyboard, ProgramStarter& programs);

    AgentSettings settings;
    CommandList commands;
    int ListenMode = 0;
    // Ticks since the listening window opened; 64-bit so that counting against ListenTime × 10 never overflows.
    qint64 ListenTicks = 0;

    // Carries out one command's action.
    void RunCommand(const KeyCommand& command);

    // Hands the recogniser the phrases of the current listening mode and shows that mode in the tray.
    void UpdateVoice();
    void ZQSpeech_Recognized(const QString& text, float confidence);
    // The listening switch; its caption is the only record of whether listening is on.
    void mnuListening_Click();
    const QString& listeningCaption() const { return listeningCaption_; }
    bool isListening() const { return listeningCaption_ == StopListeningCaption; }

    // One 100 ms tick: the listening hot key, the listening timeout, then every held key watch.
    void timKeyWatch_Timer();

    // Runs every command of `kind` whose Watch equals `caption`, in list order (tray menu clicks).
    void RunMenuCommands(const QString& kind, const QString& caption);

    // Called after every change to settings or commands made through the options window.
    std::function<void()> onEdited;
    void NotifyEdited() {
        if (onEdited)
            onEdited();
    }

    SpeechEngine& speech() { return *speech_; }
    // The speech object is going away: from now on nothing is heard or said.
    void ReleaseSpeech();

private:
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
    ProgramStarter& programs_;
    QString listeningCaption_ = StopListeningCaption;
};
