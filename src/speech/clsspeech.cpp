#include "speech/clsspeech.h"

#include "speech/audioinput.h"
#include "speech/recognizer.h"
#include "speech/synthesizer.h"
#include "speech/voicemodel.h"

#include <QDebug>
#include <QTimer>

using speech::Recognizer;

namespace {

// How long after playback ends the microphone may still carry our own voice (server latency and
// room echo).
constexpr qint64 SelfVoiceTailMs = 300;
// What the microphone hears while the recogniser is being built is kept for it, up to this much:
// a command said just after the agent came up is still heard.
constexpr std::size_t KeptBeforeReadySamples = 10 * Recognizer::SampleRate;
// The recogniser is built this long after the event loop starts: the tray host needs a few round
// trips with the agent to dock its icon, and the build holds the loop for a few hundred milliseconds.
constexpr int BuildDelayMs = 250;

} // namespace

namespace {

// Only a model whose every file matches its manifest reaches the decoders: pocketsphinx does not
// survive every kind of damaged file.
std::unique_ptr<Recognizer> loadVoiceModel(const QString& folder) {
    QString why;
    if (!folder.isEmpty() && !speech::verifyManifest(folder, &why)) {
        qWarning("speech: the voice model in %s is not used: %s", qPrintable(folder), qPrintable(why));
        return nullptr;
    }
    auto recognizer = std::make_unique<Recognizer>(folder);
    if (!recognizer->isAvailable() && !folder.isEmpty()) {
        qWarning("speech: the voice model in %s could not be loaded; the standard one is used", qPrintable(folder));
        return nullptr;
    }
    return recognizer;
}

} // namespace

clsSpeech::clsSpeech(QObject* parent, const QString& voiceModel)
    : SpeechEngine(parent), voiceModel_(voiceModel),
      audio_(std::make_unique<speech::AudioInput>(
          [this](const int16_t* samples, std::size_t count) { hear(samples, count); })) {
    // PocketSphinx's decoders are not safe to build on one thread and use on another (the agent crashed
    // now and then when it did): they are built here, on this thread, once the event loop has shown the icon.
    QTimer::singleShot(0, this, [this, voiceModel] {
        QTimer::singleShot(BuildDelayMs, this, [this, voiceModel] { build(voiceModel); });
    });
}

// The first recogniser, with the model asked for at start-up.
void clsSpeech::build(const QString& voiceModel) {
    if (recognizer_) return; // a model chosen meanwhile was built already
    std::unique_ptr<Recognizer> recognizer = loadVoiceModel(voiceModel);
    if (!recognizer) {
        recognizer = std::make_unique<Recognizer>();
        if (!voiceModel_.isEmpty()) {
            voiceModel_.clear();
            emit VoiceModelChanged(voiceModel_);
        }
    }
    adopt(std::move(recognizer));
}

// The recogniser takes the rule, the mode and the audio heard so far.
void clsSpeech::adopt(std::unique_ptr<Recognizer> recognizer) {
    recognizer_ = std::move(recognizer);
    recognizer_->setPhrases(phrases_);
    updateMode();
    std::vector<int16_t> kept;
    kept.swap(heardBeforeReady_);
    if (!kept.empty()) decode(kept.data(), kept.size());
}

bool clsSpeech::SetVoiceModel(const QString& folder) {
    // Asked before the first recogniser was built, this one is the first.
    std::unique_ptr<Recognizer> next = loadVoiceModel(folder);
    const bool loaded = next != nullptr;
    if (!loaded && (!voiceModel_.isEmpty() || !recognizer_)) next = std::make_unique<Recognizer>();
    if (!next) return false; // the shipped model stays in use
    voiceModel_ = loaded ? folder : QString();
    adopt(std::move(next));
    return loaded;
}

void clsSpeech::PauseHearing(bool paused) {
    hearingPaused_ = paused;
    if (paused) {
        heardBeforeReady_.clear();
        if (recognizer_) recognizer_->abort();
    }
}

clsSpeech::~clsSpeech() = default;

void clsSpeech::InitReco(const QString& RuleName) {
    if (hasRule_) return;
    hasRule_ = true;
    ruleName_ = RuleName;
    ruleActive_ = false;
    phrases_.clear();
    if (recognizer_) recognizer_->setPhrases(phrases_);
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
    heardBeforeReady_.clear();
    if (recognizer_) recognizer_->setPhrases(phrases_);
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
    if (recognizer_) recognizer_->setPhrases(phrases_);
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
            if (!speaking)
                sinceSpeaking_.start();
            else if (recognizer_)
                recognizer_->abort();
            else
                heardBeforeReady_.clear();
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
    if (!recognizer_) return;
    if (dictation_)
        recognizer_->setMode(Recognizer::Mode::Dictation);
    else if (IsListening())
        recognizer_->setMode(Recognizer::Mode::Grammar);
    else
        recognizer_->setMode(Recognizer::Mode::Off);
}

void clsSpeech::hear(const int16_t* samples, std::size_t count) {
    if (hearingPaused_ || speaking_ || (sinceSpeaking_.isValid() && sinceSpeaking_.elapsed() < SelfVoiceTailMs)) return;
    if (!recognizer_) {
        heardBeforeReady_.insert(heardBeforeReady_.end(), samples, samples + count);
        if (heardBeforeReady_.size() > KeptBeforeReadySamples)
            heardBeforeReady_.erase(heardBeforeReady_.begin(),
                                    heardBeforeReady_.end() - std::ptrdiff_t(KeptBeforeReadySamples));
        return;
    }
    decode(samples, count);
}

void clsSpeech::decode(const int16_t* samples, std::size_t count) {
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
