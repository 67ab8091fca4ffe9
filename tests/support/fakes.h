#pragma once

#include "commands/agent.h"
#include "commands/programstarter.h"
#include "keys/fakekeyboard.h"
#include "speech/speechengine.h"

// Records what the agent tells its host, one line per call; edits are only counted.
struct RecordingHost : AgentHost {
    QStringList calls;
    int edits = 0;
    void PhrasesChanged(Phrases p) override {
        calls << "phrases " + QString(p == Phrases::ListenPhrases ? "listen" : "commands");
    }
    void ListeningChanged(bool on) override { calls << (on ? "listening on" : "listening off"); }
    void CommandsChanged() override { calls << "menus"; }
    void Edited() override { ++edits; }
    void ShowMessage(const QString& text) override { calls << "message " + text; }
    void Notify(const QString&, const QString& text) override { calls << "notify " + text; }
};

// A speech engine that remembers its phrases (none: no rule to listen for), devices and what it was asked to say.
struct RecordingSpeech : SpeechEngine {
    QStringList words, spoken, devices, devicesSet;
    bool active = false, audio = true;
    void SetWords(const QString&, const QString& list) override { words = list.split(','); }
    bool StartListen(const QString&) override { return active = !words.isEmpty(); }
    void StopListen(const QString&) override { active = false; }
    void SetDevice(const QString& name) override {
        devicesSet << name;
        active = false;
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
        *error = failing.contains(line) ? "not found" : "";
        if (error->isEmpty()) started << line;
        return error->isEmpty();
    }
};

struct FakeAgent {
    RecordingHost host;
    RecordingSpeech speech;
    keys::testing::FakeKeyboard keyboard;
    RecordingPrograms programs;
    Agent agent{host, speech, keyboard, programs};
};
