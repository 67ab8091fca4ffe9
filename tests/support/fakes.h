#pragma once

#include "commands/agent.h"
#include "commands/programstarter.h"
#include "keys/fakekeyboard.h"
#include "speech/speechengine.h"

#include <QStringList>

// Records what the agent tells its host, one line per call; edits are only counted.
struct RecordingHost : AgentHost {
    QStringList calls;
    Phrases phrases = Phrases::VoiceCommands; // the last handed over
    int edits = 0;
    void PhrasesChanged(Phrases p) override {
        phrases = p;
        calls << (p == Phrases::ListenPhrases ? "phrases listen" : "phrases commands");
    }
    void ListeningChanged(bool on) override { calls << (on ? "listening on" : "listening off"); }
    void CommandsChanged() override { calls << "menus"; }
    void Edited() override { ++edits; }
    void ShowMessage(const QString& text) override { calls << "message " + text; }
    void Notify(const QString&, const QString& text) override { calls << "notify " + text; }
};

// A speech engine that remembers its phrases, devices and what it was asked to say.
struct RecordingSpeech : SpeechEngine {
    QStringList words, spoken, devices, devicesSet;
    bool hasRule = false, active = false, audio = true;
    void SetWords(const QString&, const QString& list) override {
        words = list.isEmpty() ? QStringList() : list.split(',');
        hasRule = true;
    }
    bool StartListen(const QString&) override { return active = hasRule; }
    void StopListen(const QString&) override { active = false; }
    void SetDevice(const QString& name) override {
        devicesSet << name;
        hasRule = active = false;
        words.clear();
    }
    QStringList GetDeviceList() override { return devices; }
    void Speak(const QString& text) override { spoken << text; }
    bool HasAudioInput() const override { return audio; }
};

// Records command lines instead of starting programs; lines listed in `failing` fail.
struct RecordingPrograms : ProgramStarter {
    QStringList started, failing;
    bool Start(const QString& line, QString* error) override {
        if (failing.contains(line))
            *error = "not found";
        else
            started << line;
        return !failing.contains(line);
    }
};

struct FakeAgent {
    RecordingHost host;
    RecordingSpeech speech;
    keys::testing::FakeKeyboard keyboard;
    RecordingPrograms programs;
    Agent agent{host, speech, keyboard, programs};
};
