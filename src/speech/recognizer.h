#pragma once

#include "speech/grammar.h"

#include <QString>

#include <cstdint>
#include <vector>

struct ps_decoder_s;

namespace speech {

// Confidence classes of a recognition, as the agent sees them.
enum class Confidence { Low = -1, Normal = 0, High = 1 };

// Thresholds on the match scores of Recognizer::Result, chosen on synthetic speech of eight
// espeak-ng voices (command phrases against near misses, unrelated sentences and noise) as the
// most true accepts with at most 1% false accepts; docs/speech.md has the method and figures.
inline constexpr float HighConfidenceScore = -26.0f;
inline constexpr float HighConfidenceWords = -40.0f;
inline constexpr float HighConfidenceWorstWord = -55.0f;
inline constexpr float HighConfidenceWorstFiller = -700.0f;
inline constexpr float NormalConfidenceScore = -40.0f;

// Offline recognition of 16 kHz mono speech against a grammar of phrases, or against the
// model's language model (dictation). Two decoders hear the same audio: one searches the grammar
// (or the language model), the other a free loop of phones. How much worse the grammar explains
// the sounds than "any phones" tells a phrase actually spoken from speech forced onto a phrase.
class Recognizer {
public:
    struct Result {
        int phrase = -1;       // position in the grammar's phrase list, -1 when none
        QString words;         // the words heard (dictionary names, blank-separated)
        float score = 0;       // (grammar acoustic score - phone loop acoustic score) per frame
        float worstWord = 0;   // the same per frame, for the word that matches worst
        float worstFiller = 0; // the same in total, for the worst silence or noise in the path
        float wordScore = 0;   // the same per frame, over the phrase's words only
        Confidence confidence = Confidence::Low;
        int frames = 0; // 10 ms frames in the utterance
    };

    enum class Mode { Off, Grammar, Dictation };

    static constexpr int SampleRate = 16000;

    Recognizer();
    ~Recognizer();
    Recognizer(const Recognizer&) = delete;
    Recognizer& operator=(const Recognizer&) = delete;

    // False when the model could not be loaded; nothing is then recognised.
    bool isAvailable() const { return grammarDecoder_ && loopDecoder_; }

    bool inDictionary(const QString& word) const;
    // Model phones for a word the dictionary lacks, generated through espeak-ng.
    static QString pronounce(const QString& word);

    // Builds the grammar of `phrases`; phrases left out are reported with qWarning.
    void setPhrases(const QStringList& phrases);
    const Grammar& grammar() const { return grammar_; }

    // What the decoders listen for. Changing it drops an utterance in progress.
    void setMode(Mode mode);
    Mode mode() const { return mode_; }

    // Feeds audio; returns the utterances that ended within it.
    std::vector<Result> process(const int16_t* samples, std::size_t count);
    // Drops an utterance in progress without a result.
    void abort();

private:
    void startUtterance();
    bool endUtterance(Result* result);
    bool readResult(Result* result);
    bool applyMode();
    void forgetLoudSound();

    ps_decoder_s* grammarDecoder_ = nullptr;
    ps_decoder_s* loopDecoder_ = nullptr;
    Grammar grammar_;
    QString grammarSearch_;
    bool dictationLoaded_ = false;
    Mode mode_ = Mode::Off;
    bool searchReady_ = false;
    bool inUtterance_ = false;
    bool inSpeech_ = false;
    std::size_t utteranceSamples_ = 0;
    int grammarGeneration_ = 0;
    std::vector<float> initialMean_;
    std::vector<int16_t> utteranceAudio_;
    int heardUtterances_ = 0;
};

Confidence classify(const Recognizer::Result& result);

} // namespace speech
