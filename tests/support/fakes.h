#pragma once

#include "commands/agent.h"
#include "keys/keyboard.h"
#include "speech/speechengine.h"

#include <QObject>
#include <QStringList>
#include <utility>
#include <vector>

// Records what the agent asks of its host, one line per call.
class RecordingHost : public AgentHost {
public:
    QStringList calls;
    TrayImage image = TrayImage::NotListening;
    QString tip;
    void ModifyTrayIcon(TrayImage i, const QString& t) override {
        image = i;
        tip = t;
        calls << QStringLiteral("tray %1 %2").arg(int(i)).arg(t);
    }
    void SetListeningCaption(const QString& caption) override { calls << QStringLiteral("caption ") + caption; }
    void ShowMessage(const QString& text) override { calls << QStringLiteral("message ") + text; }
    void Notify(const QString& title, const QString& text) override { calls << QStringLiteral("notify ") + text; }
};

// A speech engine that remembers its rule and what it was asked to say.
class RecordingSpeech : public QObject, public SpeechEngine {
    Q_OBJECT
public:
    QStringList words;  // the last SetWords list, one piece per entry
    bool hasRule = false;
    bool active = false;
    QStringList spoken;
    QStringList calls;
    QString devices;

    void SetWords(const QString& rule, const QString& list) override {
        calls << QStringLiteral("SetWords ") + list;
        words = list.isEmpty() ? QStringList() : list.split(QLatin1Char(','));
        hasRule = true;
    }
    bool StartListen(const QString&) override {
        calls << QStringLiteral("StartListen");
        if (hasRule)
            active = true;
        return hasRule;
    }
    void StopListen(const QString&) override {
        calls << QStringLiteral("StopListen");
        if (hasRule)
            active = false;
    }
    void SetDevice(const QString& name) override {
        calls << QStringLiteral("SetDevice ") + name;
        hasRule = active = false;
        words.clear();
    }
    QString GetDeviceList() override { return devices; }
    void Speak(const QString& text) override { spoken << text; }

    void Hear(const QString& text, float confidence = 1.0f) { emit Recognized(text, confidence); }

signals:
    void Recognized(const QString& Text, float Confidence);
};

// A keyboard whose held keys a test sets, recording what was typed; characters map as on a US layout.
class ScriptedKeyboard : public keys::Keyboard {
public:
    keys::KeyState held;
    std::vector<std::pair<bool, int>> events;  // (down, code)
    int snapshots = 0;

    void press(keys::KeyCode code) override { events.emplace_back(true, code); }
    void release(keys::KeyCode code) override { events.emplace_back(false, code); }
    void flush() override {}
    keys::KeyState snapshot() override {
        ++snapshots;
        return held;
    }
    keys::KeyCode keyCodeOfChar(char32_t ch) override {
        if (ch >= U'a' && ch <= U'z')
            return keys::KeyCode(ch - U'a' + 0x41);
        if (ch >= U'A' && ch <= U'Z')
            return keys::KeyCode(ch - U'A' + 0x41);
        if (ch >= U'0' && ch <= U'9')
            return keys::KeyCode(ch);
        switch (ch) {
        case U' ': return 0x20;
        case U';': return 0xBA;
        case U'[': return 0xDB;
        case U']': return 0xDD;
        default: return 0xFF;
        }
    }
    void Hold(std::initializer_list<int> codes) {
        held = {};
        for (int c : codes)
            held.down.set(size_t(c));
    }
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
