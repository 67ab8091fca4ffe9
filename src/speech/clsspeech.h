#pragma once

#include "speech/speechengine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

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
    // `voiceModel`: an acoustic model adapted to the user's voice, or empty for the shipped one.
    explicit clsSpeech(QObject* parent = nullptr, const QString& voiceModel = QString());
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
    bool SetVoiceModel(const QString& folder) override;
    void PauseHearing(bool paused) override;
    QString VoiceModel() const override { return voiceModel_; }
    // Description of the device being captured from; empty when none.
    QString CurrentDevice() const;
    // Whether the rule exists and is switched on.
    bool IsListening() const { return hasRule_ && ruleActive_; }
    bool IsSpeaking() const;
    // Whether the recogniser has been built; until then what the microphone hears is kept for it.
    bool IsReady() const { return recognizer_ != nullptr; }

private:
    void hear(const int16_t* samples, std::size_t count);
    void decode(const int16_t* samples, std::size_t count);
    void build(const QString& voiceModel);
    void adopt(std::unique_ptr<speech::Recognizer> recognizer);
    void updateMode();

    // The adapted model in use, or asked for while the recogniser is being built.
    QString voiceModel_;
    // The recogniser (three decoders and their vocabularies) takes a few hundred milliseconds to
    // build: it is built just after start-up, so that the agent's tray icon comes up first.
    std::unique_ptr<speech::Recognizer> recognizer_;
    std::vector<int16_t> heardBeforeReady_;
    std::unique_ptr<speech::AudioInput> audio_;
    speech::Synthesizer* voice_ = nullptr;

    bool hearingPaused_ = false;
    bool hasRule_ = false;
    QString ruleName_;
    bool ruleActive_ = false;
    bool dictation_ = false;
    QStringList phrases_;

    // Own speech must not be taken for commands: audio is ignored while speaking and shortly after.
    bool speaking_ = false;
    QElapsedTimer sinceSpeaking_;
};
