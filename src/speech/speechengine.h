#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// What the agent needs of a speech engine: one rule of phrases, listening on and off, the audio
// input device, and spoken output. clsSpeech is the real one; tests use a recording fake.
class SpeechEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The rule's phrases, separated by ","; pieces are taken as they are. The rule keeps its
    // active or inactive state.
    virtual void SetWords(const QString& ruleName, const QString& wordCommaSep) = 0;
    // Switches the rule on; false (and nothing changes) while no rule exists.
    virtual bool StartListen(const QString& ruleName) = 0;
    virtual void StopListen(const QString& ruleName) = 0;
    // Rebuilds the recogniser on the named input device (empty or unknown: the default); the rule is dropped.
    virtual void SetDevice(const QString& deviceName = QString()) = 0;
    // Input device descriptions in the audio system's order; empty when there is none.
    virtual QStringList GetDeviceList() = 0;
    // Queues `text` to be spoken; returns at once.
    virtual void Speak(const QString& text) = 0;
    // Whether audio is being captured from an input device.
    virtual bool HasAudioInput() const = 0;
    // The acoustic model to recognise with: the folder of one adapted to the user's voice, or empty
    // for the shipped one. False when it could not be loaded; the shipped one is then in use. The
    // rule, its phrases and its state are kept.
    virtual bool SetVoiceModel(const QString& folder) { return folder.isEmpty(); }
    // The adapted model in use; empty for the shipped one.
    virtual QString VoiceModel() const { return QString(); }
    // While the user reads training sentences nothing is recognised; listening is kept as it is.
    virtual void PauseHearing(bool paused) { Q_UNUSED(paused); }

signals:
    // One utterance heard as `Text`, with the confidence class -1 (low), 0 (normal) or 1 (high).
    // Emitted on the thread that owns the engine, once the utterance has ended.
    void Recognized(const QString& Text, float Confidence);
    // The adapted model asked for could not be loaded after all; `folder` (empty: the shipped one) is used.
    void VoiceModelChanged(const QString& folder);
};
