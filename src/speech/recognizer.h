#pragma once

#include "speech/grammar.h"

#include <QByteArrayList>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

struct ps_decoder_s;

namespace speech {

// Confidence classes of a recognition, as the agent sees them.
enum class Confidence { Low = -1, Normal = 0, High = 1 };

// Limits on the match scores of Recognizer::Result, chosen on synthetic speech of two synthesisers
// (command phrases, alone and in room noise, against near misses, unrelated sentences and
// noise); docs/speech.md has the method and figures.
inline constexpr float HighConfidenceWorstWord = -45.0f;
inline constexpr float HighConfidenceWorstFiller = -700.0f;
inline constexpr float HighConfidenceAgainstWords = -20.0f;
inline constexpr float NormalConfidenceScore = -40.0f;
// Less than this (dB) above the sound just before or just after it, an utterance is noise or music
// that changed or goes on, never a command, however well it fits.
inline constexpr float MinStandsOut = 10.0f;
// dB by which an utterance stands out from what is heard just before and after it. `audio` is
// the utterance, its first `leadIn` samples from before the detector heard speech; `before` is what
// was heard before `audio` began, which fills in a lead-in cut short by the utterance before.
float standsOut(const std::vector<int16_t>& before, const std::vector<int16_t>& audio, std::size_t leadIn);
// Fewer voiced frames than this (10 ms each), an utterance is noise: the shortest vowel is longer.
inline constexpr int MinVoicedFrames = 3;
// Fewer harmonics than this, a pitched sound is a pure tone (a beep, a whistle, a sweep): the
// pulses of a voice have many.
inline constexpr float MinHarmonics = 2;
// How much better (acoustic score) a sound-alike of a phrase word must fit the speech than the word
// itself before the grammar search takes it, and with it "not a phrase".
inline constexpr int SoundAlikeMargin = 400;

// Switches the decoders' library log off, once. Its log file is one global that each decoder given
// a log file of its own closes and replaces, while decoders on other threads may be writing to it:
// no decoder is given one.
void silenceDecoderLog();

// Offline recognition of 16 kHz mono speech against a grammar of phrases, or against the
// model's language model (dictation). Three decoders hear the same audio: one searches the grammar
// (or the language model), one a free loop of phones, one a free loop of common words. How much
// worse the grammar explains the sounds than "any phones" tells a phrase actually spoken from
// noise or unrelated speech forced onto a phrase; how much worse than "any words" tells it from
// speech one word away from the phrase.
class Recognizer {
public:
    struct Result {
        int phrase = -1;       // position in the grammar's phrase list, -1 when none
        QString words;         // the words heard (dictionary names, blank-separated)
        float score = 0;       // (grammar acoustic score - phone loop acoustic score) per frame
        float worstWord = 0;   // the same per frame, for the word that matches worst
        float worstFiller = 0; // the same in total, for the worst silence or noise in the path
        // (grammar acoustic score - common-word loop acoustic score) per frame
        float againstWords = 0;
        Confidence confidence = Confidence::Low;
        int frames = 0; // 10 ms frames in the utterance
        // dB between the loudest stretch of the utterance and what is heard just before and after it:
        // speech stands out from the quiet around it; a change of noise or music goes on.
        float standsOut = 0;
        // The voiced 10 ms frames of the utterance (every word has a vowel; noise has no pitch), and
        // over them, the median count of harmonics of the pitch up to 3.8 kHz within 25 dB of the
        // strongest: a voice's source is rich in them, a pure tone has one.
        int voicedFrames = 0;
        float harmonics = 0;
    };

    enum class Mode { Off, Grammar, Dictation };

    static constexpr int SampleRate = 16000;

    // `acousticModel`: the folder of the acoustic model all three decoders share (their scores are
    // compared with one another); empty for the shipped one.
    explicit Recognizer(const QString& acousticModel = QString());
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
    // How much longer than usual the end of an utterance waits when the words heard so far may go
    // on into a longer phrase; only changed to measure what the wait buys.
    void setPhrasePause(int milliseconds) { phrasePauseSamples_ = std::size_t(milliseconds) * SampleRate / 1000; }

private:
    void startUtterance();
    void dropUtterance();
    bool endUtterance(Result* result);
    bool endsHere(std::size_t samples);
    bool waitsForTail();
    bool tailEnds(bool* diedAway);
    void measurePitch(std::size_t from, Result* result) const;
    bool readResult(Result* result);
    bool applyMode();
    void forgetLoudSound();
    void restoreMean();
    void loadCommonWords();
    void setCommonWordsSearch();
    void addSoundAlikesTo(WordGraph& graph) const;
    // Calls `f` with each decoder that was loaded; nothing is allocated, as it runs on every piece of audio.
    template <typename F> void forEachDecoder(F&& f) const {
        for (ps_decoder_s* ps : {grammarDecoder_, loopDecoder_, wordsDecoder_})
            if (ps) f(ps);
    }

    QString acousticModel_;
    ps_decoder_s* grammarDecoder_ = nullptr;
    ps_decoder_s* loopDecoder_ = nullptr;
    ps_decoder_s* wordsDecoder_ = nullptr; // a free loop of common words, nullptr when it failed to load
    QByteArrayList commonWords_;
    std::vector<std::pair<const char*, QByteArray>> vocabulary_; // common words and their phone codes
    Grammar grammar_;
    QString grammarSearch_;
    bool dictationLoaded_ = false;
    Mode mode_ = Mode::Off;
    bool searchReady_ = false;
    bool inUtterance_ = false;
    bool inSpeech_ = false;
    std::size_t utteranceSamples_ = 0;
    // Silence since the detector last heard speech, and how much of it ends the utterance.
    std::size_t pauseSamples_ = 0;
    std::size_t waitSamples_ = 0;
    std::size_t phrasePauseSamples_;
    PhraseContinuations continuations_;
    int grammarGeneration_ = 0;
    std::vector<float> initialMean_;
    std::array<std::vector<float>, 3> meanAtStart_; // each decoder's cepstral mean as the utterance began
    std::vector<int16_t> utteranceAudio_;
    std::size_t leadIn_ = 0;      // samples of utteranceAudio_ from before the detector heard speech
    std::vector<int16_t> before_; // the end of the audio heard before this utterance began
    // Waiting after the detector's end for the utterance to die away into the quiet before it.
    bool tailing_ = false;
    std::size_t detectorEnd_ = 0;       // samples of utteranceAudio_ when the detector ended it
    float tailQuiet_ = 0, tailEnd_ = 0; // levels (dB) of the quiet before and of the end
    int heardUtterances_ = 0;
};

// The limits classify applies; others only to measure what they would change.
struct ConfidenceLimits {
    float score = NormalConfidenceScore;
    float worstWord = HighConfidenceWorstWord;
    float worstFiller = HighConfidenceWorstFiller;
    float againstWords = HighConfidenceAgainstWords;
};
Confidence classify(const Recognizer::Result& result, const ConfidenceLimits& limits = {});

} // namespace speech
