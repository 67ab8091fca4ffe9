#pragma once

#include "commands/agent.h"
#include "commands/programstarter.h"
#include "keys/fakekeyboard.h"
#include "speech/speechengine.h"

#include <QObject>
#include <QStringList>
#include <utility>
#include <vector>

// Records what the agent tells its host, one line per call; edits are only counted.
class RecordingHost : public AgentHost {
public:
    QStringList calls;
    Phrases phrases = Phrases::VoiceCommands; // the last handed over
    int phraseUpdates = 0;
    int edits = 0;
    void PhrasesChanged(Phrases p) override {
        phrases = p;
        ++phraseUpdates;
        calls << (p == Phrases::ListenPhrases ? QStringLiteral("phrases listen") : QStringLiteral("phrases commands"));
    }
    void ListeningChanged(bool on) override {
        calls << (on ? QStringLiteral("listening on") : QStringLiteral("listening off"));
    }
    void CommandsChanged() override { calls << QStringLiteral("menus"); }
    void Edited() override { ++edits; }
    void ShowMessage(const QString& text) override { calls << QStringLiteral("message ") + text; }
    void Notify(const QString& title, const QString& text) override { calls << QStringLiteral("notify ") + text; }
};

// A speech engine that remembers its rule and what it was asked to say.
class RecordingSpeech : public SpeechEngine {
public:
    QStringList words; // the last SetWords list, one piece per entry
    bool hasRule = false;
    bool active = false;
    QStringList spoken;
    QStringList calls;
    int setWordsCalls = 0;
    QStringList devicesSet;
    QStringList devices;

    void SetWords(const QString& rule, const QString& list) override {
        calls << QStringLiteral("SetWords ") + list;
        ++setWordsCalls;
        words = list.isEmpty() ? QStringList() : list.split(QLatin1Char(','));
        hasRule = true;
    }
    bool StartListen(const QString&) override {
        calls << QStringLiteral("StartListen");
        if (hasRule) active = true;
        return hasRule;
    }
    void StopListen(const QString&) override {
        calls << QStringLiteral("StopListen");
        if (hasRule) active = false;
    }
    void SetDevice(const QString& name) override {
        calls << QStringLiteral("SetDevice ") + name;
        devicesSet << name;
        hasRule = active = false;
        words.clear();
    }
    QStringList GetDeviceList() override { return devices; }
    void Speak(const QString& text) override { spoken << text; }
    bool audio = true;
    bool HasAudioInput() const override { return audio; }
};

// Records command lines instead of starting programs; lines listed in `failing` fail.
class RecordingPrograms : public ProgramStarter {
public:
    QStringList started;
    QStringList failing;
    bool Start(const QString& commandLine, QString* error) override {
        if (failing.contains(commandLine)) {
            *error = QStringLiteral("not found");
            return false;
        }
        started << commandLine;
        return true;
    }
};

// An agent wired to the recording fakes.
struct FakeAgent {
    RecordingHost host;
    RecordingSpeech speech;
    keys::testing::FakeKeyboard keyboard;
    RecordingPrograms programs;
    Agent agent{host, speech, keyboard, programs};
};
