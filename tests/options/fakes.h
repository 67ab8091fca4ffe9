#pragma once

#include "commands/agent.h"
#include "keys/keyboard.h"
#include "speech/speechengine.h"

#include <QStringList>

// Recording stand-ins for the agent's desktop services, so the pages run without audio or X.

class FakeHost : public AgentHost {
public:
    void ModifyTrayIcon(TrayImage image, const QString&) override {
        trayImage = image;
        ++trayUpdates;
    }
    void SetListeningCaption(const QString&) override {}
    void ShowMessage(const QString& text) override { messages.append(text); }
    void Notify(const QString&, const QString&) override {}

    TrayImage trayImage = TrayImage::WindowIcon;
    int trayUpdates = 0;
    QStringList messages;
};

class FakeSpeech : public SpeechEngine {
public:
    void SetWords(const QString&, const QString& wordCommaSep) override {
        words = wordCommaSep;
        ++setWordsCalls;
    }
    bool StartListen(const QString&) override { return true; }
    void StopListen(const QString&) override {}
    void SetDevice(const QString& deviceName) override { devicesSet.append(deviceName); }
    QString GetDeviceList() override { return deviceList; }
    void Speak(const QString&) override {}

    QString deviceList;
    QStringList devicesSet;
    QString words;
    int setWordsCalls = 0;
};

class FakeKeyboard : public keys::Keyboard {
public:
    void press(keys::KeyCode) override {}
    void release(keys::KeyCode) override {}
    void flush() override {}
    keys::KeyState snapshot() override { return {}; }
    keys::KeyCode keyCodeOfChar(char32_t) override { return 0xFF; }
};

class FakePrograms : public ProgramStarter {
public:
    bool Start(const QString&, QString*) override { return true; }
};

// An agent wired to the fakes; counts the edits it is told of.
struct FakeAgent {
    FakeHost host;
    FakeSpeech speech;
    FakeKeyboard keyboard;
    FakePrograms programs;
    Agent agent{host, speech, keyboard, programs};
    int edits = 0;

    FakeAgent() {
        agent.onEdited = [this] { ++edits; };
    }
};
