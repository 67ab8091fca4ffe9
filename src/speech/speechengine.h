#pragma once

#include <QString>

// What the agent needs of a speech engine: one rule of phrases, listening on and off, the audio
// input device, and spoken output. clsSpeech is the real one; tests use a recording fake.
// Recognitions come back through clsSpeech's Recognized signal, on the user-interface thread.
class SpeechEngine {
public:
    virtual ~SpeechEngine() = default;

    // The rule's phrases, separated by ","; pieces are taken as they are. The rule keeps its
    // active or inactive state.
    virtual void SetWords(const QString& ruleName, const QString& wordCommaSep) = 0;
    // Switches the rule on; false (and nothing changes) while no rule exists.
    virtual bool StartListen(const QString& ruleName) = 0;
    virtual void StopListen(const QString& ruleName) = 0;
    // Rebuilds the recogniser on the named input device (empty or unknown: the default); the rule is dropped.
    virtual void SetDevice(const QString& deviceName = QString()) = 0;
    // Input device descriptions separated by ";"; empty when there is none.
    virtual QString GetDeviceList() = 0;
    // Queues `text` to be spoken; returns at once.
    virtual void Speak(const QString& text) = 0;
    // Whether audio is being captured from an input device.
    virtual bool HasAudioInput() const = 0;
};
