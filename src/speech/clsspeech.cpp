#include "speech/clsspeech.h"

#include "speech/audioinput.h"
#include "speech/recognizer.h"
#include "speech/synthesizer.h"

#include <QDebug>

using speech::Recognizer;

namespace {

// How long after playback ends the microphone may still carry our own voice (server latency and
// room echo).
constexpr qint64 SelfVoiceTailMs = 300;

} // namespace

clsSpeech::clsSpeech(QObject* parent)
    : SpeechEngine(parent), recognizer_(std::make_unique<Recognizer>()),
      audio_(std::make_unique<speech::AudioInput>(
          [this](const int16_t* samples, std::size_t count) { hear(samples, count); })) {}

clsSpeech::~clsSpeech() = default;

void clsSpeech::InitReco(const QString& RuleName) {
    if (hasRule_) return;
    hasRule_ = true;
    ruleName_ = RuleName;
    ruleActive_ = false;
    phrases_.clear();
    recognizer_->setPhrases(phrases_);
    updateMode();
}

void clsSpeech::InitDict(const QString&) {
    dictation_ = true;
    updateMode();
}

void clsSpeech::StopDict(const QString&) {
    dictation_ = false;
    updateMode();
}

void clsSpeech::SetDevice(const QString& DeviceName) {
    // A new device starts from nothing: no rule, no dictation.
    hasRule_ = false;
    ruleName_.clear();
    ruleActive_ = false;
    dictation_ = false;
    phrases_.clear();
    recognizer_->setPhrases(phrases_);
    updateMode();
    if (!audio_->open(DeviceName)) qWarning("speech: no audio input device; nothing will be heard");
}

void clsSpeech::SetWords(const QString& RuleName, const QString& WordCommaSep) {
    QStringList phrases = WordCommaSep.isEmpty() ? QStringList() : WordCommaSep.split(QLatin1Char(','));
    // The same list again (the options window refreshes it freely) would rebuild the whole grammar.
    if (hasRule_ && phrases == phrases_) return;
    if (!hasRule_) {
        hasRule_ = true;
        ruleName_ = RuleName;
        ruleActive_ = false;
    }
    phrases_ = std::move(phrases);
    recognizer_->setPhrases(phrases_);
    updateMode();
}

QStringList clsSpeech::GetDeviceList() {
    return speech::AudioInput::deviceDescriptions();
}

bool clsSpeech::StartListen(const QString& RuleName) {
    if (!hasRule_) return false;
    if (RuleName != ruleName_) {
        qWarning("speech: no rule named \"%s\"", qPrintable(RuleName));
        return false;
    }
    ruleActive_ = true;
    updateMode();
    return true;
}

void clsSpeech::StopListen(const QString& RuleName) {
    if (!hasRule_) return;
    if (RuleName != ruleName_) {
        qWarning("speech: no rule named \"%s\"", qPrintable(RuleName));
        return;
    }
    ruleActive_ = false;
    updateMode();
}

void clsSpeech::Speak(const QString& Text) {
    if (!voice_) {
        voice_ = new speech::Synthesizer(this);
        connect(voice_, &speech::Synthesizer::speakingChanged, this, [this](bool speaking) {
            speaking_ = speaking;
            if (speaking)
                recognizer_->abort();
            else
                sinceSpeaking_.start();
        });
    }
    voice_->speak(Text);
}

bool clsSpeech::HasAudioInput() const {
    return audio_->isOpen();
}

QString clsSpeech::CurrentDevice() const {
    return audio_->deviceDescription();
}

bool clsSpeech::IsSpeaking() const {
    return speaking_;
}

void clsSpeech::updateMode() {
    if (dictation_)
        recognizer_->setMode(Recognizer::Mode::Dictation);
    else if (IsListening())
        recognizer_->setMode(Recognizer::Mode::Grammar);
    else
        recognizer_->setMode(Recognizer::Mode::Off);
}

void clsSpeech::hear(const int16_t* samples, std::size_t count) {
    if (speaking_ || (sinceSpeaking_.isValid() && sinceSpeaking_.elapsed() < SelfVoiceTailMs)) return;
    // Results are raised after the whole piece is decoded: a handler may change the rule.
    QList<std::pair<QString, float>> heard;
    for (const Recognizer::Result& r : recognizer_->process(samples, count)) {
        if (r.phrase >= 0 && r.phrase < phrases_.size())
            heard.append({phrases_[r.phrase], float(int(r.confidence))});
        else if (dictation_)
            heard.append({r.words, float(int(r.confidence))});
    }
    for (const auto& [text, confidence] : heard)
        emit Recognized(text, confidence);
}
