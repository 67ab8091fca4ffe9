#pragma once

#include "speech/speechengine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace speech {
class AudioInput;
class Recognizer;
class Synthesizer;
} // namespace speech

// The agent's speech engine: one rule of phrases recognised from the chosen audio input device
// (plus optional dictation), and spoken replies. Everything runs on the thread that owns the
// object; Recognized is emitted there once an utterance has ended.
class clsSpeech : public SpeechEngine {
    Q_OBJECT
public:
    explicit clsSpeech(QObject* parent = nullptr);
    ~clsSpeech() override;

    // Creates an empty, inactive rule named RuleName.
    void InitReco(const QString& RuleName);
    // Free dictation from the model's language model, on and off; independent of the rule.
    void InitDict(const QString& RuleName);
    void StopDict(const QString& RuleName);
    void SetDevice(const QString& DeviceName = QString()) override;
    void SetWords(const QString& RuleName, const QString& WordCommaSep) override;
    QStringList GetDeviceList() override;
    bool StartListen(const QString& RuleName) override;
    void StopListen(const QString& RuleName) override;
    void Speak(const QString& Text) override;

    // Whether audio is being captured from an input device (false without an audio server or
    // device, or before SetDevice).
    bool HasAudioInput() const override;
    // Description of the device being captured from; empty when none.
    QString CurrentDevice() const;
    // Whether the rule exists and is switched on.
    bool IsListening() const { return hasRule_ && ruleActive_; }
    bool IsSpeaking() const;

private:
    void hear(const int16_t* samples, std::size_t count);
    void updateMode();

    std::unique_ptr<speech::Recognizer> recognizer_;
    std::unique_ptr<speech::AudioInput> audio_;
    speech::Synthesizer* voice_ = nullptr;

    bool hasRule_ = false;
    QString ruleName_;
    bool ruleActive_ = false;
    bool dictation_ = false;
    QStringList phrases_;

    // Own speech must not be taken for commands: audio is ignored while speaking and shortly after.
    bool speaking_ = false;
    QElapsedTimer sinceSpeaking_;
};
