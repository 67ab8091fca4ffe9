#include "speech/recognizer.h"

#include "speech/commonwords.h"
#include "speech/espeak.h"
#include "speech/lexicon.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/fsg_model.h>
#include <sphinxbase/ngram_model.h>

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace speech {

void silenceDecoderLog() {
    static const bool silenced = [] {
        err_set_logfp(nullptr);
        return true;
    }();
    (void)silenced;
}

namespace {

const QString ModelDir = QStringLiteral(VORLIX_SPEECH_MODEL_DIR "/en-us");

// Frames of silence after speech that end an utterance: 150 ms keeps the answer quick and still
// bridges the stop closures inside words.
constexpr const char* VadPostSpeech = "15";
// When the words heard so far may be only the start of a phrase ("open" of "open mail", "scroll"
// beside "scroll down"), the end waits this much longer for the rest: about 750 ms after the last
// sound, which bridges a hesitation of a quarter second and most of 400 ms. Longer waits bridge
// more but take the next command, said soon after, into the same utterance.
constexpr int PhrasePauseMs = 600;
// Longer "speech" is music or noise, never a command; it is dropped to keep memory bounded.
constexpr std::size_t MaxSpeechSamples = 10 * Recognizer::SampleRate;
// A silent utterance is restarted now and then so that nothing accumulates over hours.
constexpr std::size_t MaxSilentSamples = 30 * Recognizer::SampleRate;
// The pieces fed to the decoders: the voice-activity detector decides per piece.
constexpr std::size_t ChunkSamples = 320;
// Audio kept from before the detector noticed speech, for decoding an utterance again.
constexpr std::size_t LeadInSamples = Recognizer::SampleRate / 2;
// The detector hears speech about 0.3 s after it began.
constexpr std::size_t DetectorDelay = Recognizer::SampleRate * 3 / 10;
// Utterances after start (or after long noise) that are decoded again once the running
// cepstral mean has learnt the voice and the microphone: the first ones are otherwise scored too
// low.
constexpr int WarmUpUtterances = 3;
// Words in the loop that competes with the phrases: enough to explain most speech, few enough to
// keep the search light.
constexpr int CommonWordsInLoop = 3000;
constexpr int PhraseWordsInLoop = 3000;
// How much likelier a phrase word is in that loop than a common word: the loop then takes the
// phrase's own word unless another one fits the sound clearly better.
constexpr double PhraseWordWeight = 300;
// Sound-alikes of the phrase words offered to the grammar search beside them ("page" / "base",
// "mail" / "they"): drawn from this many of the most frequent words, at most this many per word,
// and at most this many in all, which keeps the search light for lists of thousands of phrases.
constexpr int SoundAlikeVocabulary = 20000;
constexpr int SoundAlikesPerWord = 30;
constexpr int SoundAlikeArcs = 4000;

// Levels (dB) of the 20 ms frames of some audio.
constexpr std::size_t Frame = Recognizer::SampleRate / 50;
std::vector<float> frameLevels(const int16_t* from, const int16_t* to) {
    std::vector<float> levels;
    for (; to - from >= std::ptrdiff_t(Frame); from += Frame) {
        double sum = 0;
        for (const int16_t* v = from; v != from + Frame; ++v)
            sum += double(*v) * *v;
        levels.push_back(float(10 * std::log10(sum / Frame + 1)));
    }
    return levels;
}
// The level that `fraction` of the frames are quieter than.
float share(std::vector<float> levels, double fraction) {
    std::sort(levels.begin(), levels.end());
    return levels[std::min(levels.size() - 1, std::size_t(double(levels.size()) * fraction))];
}
// Frames of a lead-in of `samples` heard before speech began.
std::size_t quietFrames(std::size_t samples) {
    return samples > DetectorDelay ? (samples - DetectorDelay) / Frame : 0;
}
// What an utterance is heard against after it: its last 0.1 s.
constexpr std::size_t AfterFrames = 5;
// The detector takes a soft word end ("n", "l") in steady room noise for the noise itself and ends
// the utterance while the word still sounds, so that the last 0.1 s, which an utterance must stand
// out from, is the word. When that end is still well above the quiet heard before the speech, and
// well below the speech, the end waits, at most a quarter second, for the sound to drop back to
// within `TailNearQuiet` dB of that quiet. A word ends with a drop of `TailDrop` dB within 40 ms
// back into the same quiet; a plucked note fades smoothly, and a chord stopped dead by silence drops
// far below the fading chord it was heard against: both are measured where the detector ended them.
constexpr std::size_t MaxTailSamples = Recognizer::SampleRate / 4;
constexpr float TailNearQuiet = 6, TailBelowLoud = 5, TailDrop = 8;
// The quiet before the speech is measured on the utterance's own lead-in, of at least 120 ms.
constexpr std::size_t MinQuietFrames = 6;

// Phones as one byte each (their place in the model's phone set, vowels with bit 0x40 set), so
// that twenty thousand pronunciations stay small and compare fast.
QByteArray phoneCodes(const char* phones) {
    static const QByteArrayList set = QByteArray("AA AE AH AO AW AY B CH D DH EH ER EY F G HH IH IY JH K L M N NG OW "
                                                 "OY P R S SH T TH UH UW V W Y Z ZH")
                                          .split(' ');
    QByteArray out;
    for (const QByteArray& phone : QByteArray(phones).split(' ')) {
        if (phone.isEmpty()) continue;
        const bool vowel = QByteArrayView("AEIOU").contains(phone[0]);
        out += char((set.indexOf(phone) + 1) | (vowel ? 0x40 : 0));
    }
    return out;
}

// Edit distance in half phones: a vowel for another vowel costs one, any other change two. Voices
// and accents differ most in their vowels.
int soundDistance(const QByteArray& a, const QByteArray& b) {
    int row[64];
    if (b.size() >= 64) return 1 << 20;
    for (int j = 0; j <= b.size(); ++j)
        row[j] = 2 * j;
    for (int i = 1; i <= a.size(); ++i) {
        int diag = row[0];
        row[0] = 2 * i;
        for (int j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            const char x = a[i - 1], y = b[j - 1];
            const int change = x == y ? 0 : (x & y & 0x40) ? 1 : 2;
            row[j] = std::min({up + 2, row[j - 1] + 2, diag + change});
            diag = up;
        }
    }
    return row[b.size()];
}

// All decoders score every senone in every speech frame (-compallsen): scores are then relative
// to the same best senone per frame and can be compared across the searches.
ps_decoder_t* makeDecoder(const QString& acousticModel, std::initializer_list<const char*> extra) {
    // No noise subtraction in the front end: its noise estimate follows loud music or noise and then eats
    // the speech that comes after it.
    silenceDecoderLog();
    std::vector<const char*> argv = {"-hmm", nullptr, "-vad_postspeech", VadPostSpeech, "-remove_noise", "no"};
    const QByteArray hmm = QFile::encodeName(acousticModel);
    argv[1] = hmm.constData();
    argv.insert(argv.end(), extra.begin(), extra.end());
    cmd_ln_t* config = cmd_ln_parse_r(nullptr, ps_args(), int(argv.size()), const_cast<char**>(argv.data()), FALSE);
    if (!config) return nullptr;
    ps_decoder_t* ps = ps_init(config);
    cmd_ln_free_r(config);
    return ps;
}

struct Segment {
    QByteArray word;
    int first = 0, last = 0; // frames, inclusive
    int32 ascr = 0;
};

std::vector<Segment> segments(ps_decoder_t* ps) {
    std::vector<Segment> out;
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        Segment s;
        s.word = ps_seg_word(seg);
        // An empty step of the grammar (a phrase ending where a longer one goes on) has no sound.
        if (s.word == "(NULL)") continue;
        ps_seg_frames(seg, &s.first, &s.last);
        int32 lscr = 0, lback = 0;
        ps_seg_prob(seg, &s.ascr, &lscr, &lback);
        out.push_back(s);
    }
    return out;
}

bool isFiller(const QByteArray& word) {
    return word.startsWith('<') || word.startsWith('[');
}

// The phone loop's acoustic score over frames first..last, sharing out segments that straddle
// the edges by their overlap.
double loopScoreOver(const std::vector<Segment>& loop, int first, int last) {
    double total = 0;
    for (const Segment& s : loop) {
        const int from = std::max(first, s.first), to = std::min(last, s.last);
        if (from <= to) total += double(s.ascr) * (to - from + 1) / (s.last - s.first + 1);
    }
    return total;
}

// The grammar's search graph. Certain transitions (log 1 = 0) leave nothing for the language weight
// to scale; it is recorded all the same, as the search expects the weight it runs with.
fsg_model_t* searchGraph(ps_decoder_t* ps, const QString& name, const WordGraph& graph) {
    const float lw = float(cmd_ln_float_r(ps_get_config(ps), "-lw"));
    fsg_model_t* fsg = fsg_model_init(name.toUtf8().constData(), ps_get_logmath(ps), lw, graph.states);
    fsg->start_state = WordGraph::Start;
    fsg->final_state = WordGraph::Final;
    // fsg_model_word_add compares each new word with all the others first: with tens of thousands of
    // words that alone takes a second. The graph's words are distinct already.
    fsg->n_word_alloc = int32(graph.words.size());
    fsg->vocab = static_cast<char**>(ckd_calloc(std::size_t(fsg->n_word_alloc), sizeof(char*)));
    for (const QString& word : graph.words)
        fsg->vocab[fsg->n_word++] = ckd_salloc(word.toUtf8().constData());
    for (const WordGraph::Arc& arc : graph.arcs) {
        if (arc.word < 0)
            fsg_model_null_trans_add(fsg, arc.from, arc.to, 0);
        else
            fsg_model_trans_add(fsg, arc.from, arc.to, -arc.cost, arc.word);
    }
    return fsg;
}

double total(const std::vector<Segment>& path) {
    double sum = 0;
    for (const Segment& s : path)
        sum += s.ascr;
    return sum;
}

cmn_t* cepstralMean(ps_decoder_t* ps) {
    feat_t* feat = ps_get_feat(ps);
    return feat ? feat->cmn_struct : nullptr;
}

// Puts back a mean taken earlier from this decoder; one of another length (no mean taken) is skipped.
void setMean(ps_decoder_t* ps, std::vector<float>& mean) {
    if (cmn_t* cmn = cepstralMean(ps); cmn && std::size_t(cmn->veclen) == mean.size()) cmn_live_set(cmn, mean.data());
}

} // namespace

Confidence classify(const Recognizer::Result& r, const ConfidenceLimits& limits) {
    if (r.score < limits.score) return Confidence::Low;
    if (r.worstWord >= limits.worstWord && r.worstFiller >= limits.worstFiller && r.againstWords >= limits.againstWords)
        return Confidence::High;
    return Confidence::Normal;
}

Recognizer::Recognizer(const QString& acousticModel)
    : acousticModel_(acousticModel.isEmpty() ? ModelDir + QStringLiteral("/en-us") : acousticModel) {
    setPhrasePause(PhrasePauseMs);
    if (!QFileInfo::exists(acousticModel_ + QStringLiteral("/mdef"))) {
        qWarning("speech: no recognition model in %s; nothing will be recognised", qPrintable(acousticModel_));
        return;
    }
    const QByteArray dict = QFile::encodeName(ModelDir + QStringLiteral("/cmudict-en-us.dict"));
    const QByteArray phoneLm = QFile::encodeName(ModelDir + QStringLiteral("/en-us-phone.lm.bin"));
    // Wide beams: with a few dozen phrases the default ones lose short phrases of unusual voices.
    // The word beam is wider still: after loud noise the sound-alikes' paths can fit so much better
    // than the phrases' that no path reaching the end of a phrase would survive.
    grammarDecoder_ = makeDecoder(acousticModel_, {"-dict", dict.constData(), "-compallsen", "yes", "-beam", "1e-60",
                                                   "-pbeam", "1e-60", "-wbeam", "1e-80"});
    // Context-independent phones keep the loop at a fraction of real time.
    // A light phone language model lets the loop follow the sounds rather than likely phone
    // sequences.
    loopDecoder_ = makeDecoder(
        acousticModel_, {"-allphone", phoneLm.constData(), "-allphone_ci", "yes", "-lw", "1", "-compallsen", "yes"});
    if (!isAvailable()) {
        qWarning("speech: the recognition model in %s could not be loaded", qPrintable(acousticModel_));
        return;
    }
    loadCommonWords();
    for (int i = 0; i < std::min(CommonWordCount, SoundAlikeVocabulary); ++i)
        if (char* phones = ps_lookup_word(grammarDecoder_, CommonWords[i])) {
            vocabulary_.push_back({CommonWords[i], phoneCodes(phones)});
            ckd_free(phones);
        }
    if (cmn_t* cmn = cepstralMean(grammarDecoder_)) {
        initialMean_.resize(std::size_t(cmn->veclen));
        cmn_live_get(cmn, initialMean_.data());
    }
}

void Recognizer::forgetLoudSound() {
    if (initialMean_.empty()) return;
    forEachDecoder([this](ps_decoder_t* ps) { setMean(ps, initialMean_); });
    heardUtterances_ = 0;
}

void Recognizer::restoreMean() {
    std::size_t k = 0;
    forEachDecoder([&](ps_decoder_t* ps) { setMean(ps, meanAtStart_[k++]); });
}

Recognizer::~Recognizer() {
    forEachDecoder(ps_free);
}

// The competing explanation: a free loop of the most frequent words (and, once set, the phrases'
// own words), with a dictionary of just those words rather than the full one. Only the first pass
// of the search runs: its segmentation is all that is used.
void Recognizer::loadCommonWords() {
    wordsDecoder_ = makeDecoder(acousticModel_, {"-compallsen", "yes", "-fwdflat", "no", "-bestpath", "no"});
    if (!wordsDecoder_) return;
    for (int i = 0; i < std::min(CommonWordCount, CommonWordsInLoop); ++i) {
        char* phones = ps_lookup_word(grammarDecoder_, CommonWords[i]);
        if (phones && ps_add_word(wordsDecoder_, CommonWords[i], phones, FALSE) >= 0) commonWords_ << CommonWords[i];
        ckd_free(phones);
    }
    setCommonWordsSearch();
}

// The loop's language model: every word equally likely, the phrases' own words more likely, so that
// the loop takes a phrase word unless another word fits the sound clearly better.
void Recognizer::setCommonWordsSearch() {
    // Huge lists ("open item 1" to "open item 100000") would make the loop as slow as the grammar:
    // past a few thousand, phrase words are left to the common words.
    QSet<QByteArray> phraseWords;
    for (const QString& alternative : std::as_const(grammar_.alternatives))
        for (const QString& word : alternative.split(QLatin1Char(' ')))
            if (phraseWords.size() < PhraseWordsInLoop) phraseWords.insert(word.toUtf8());
    const double uniform = 1.0 / double(commonWords_.size() + phraseWords.size() + 1);
    const QByteArray plain = QByteArray::number(std::log10(uniform), 'f', 4);
    const QByteArray likely = QByteArray::number(std::log10(uniform * PhraseWordWeight), 'f', 4);
    QByteArray unigrams = "-99 <s>\n" + plain + " </s>\n";
    int count = 2;
    for (const QByteArray& word : std::as_const(commonWords_))
        if (!phraseWords.contains(word)) {
            unigrams += plain + ' ' + word + '\n';
            ++count;
        }
    for (const QByteArray& word : std::as_const(phraseWords)) {
        char* phones = ps_lookup_word(wordsDecoder_, word.constData());
        if (!phones) phones = ps_lookup_word(grammarDecoder_, word.constData());
        if (!phones) continue;
        ps_add_word(wordsDecoder_, word.constData(), phones, FALSE); // a no-op when it is known
        ckd_free(phones);
        unigrams += likely + ' ' + word + '\n';
        ++count;
    }
    QTemporaryFile arpa;
    ngram_model_t* lm = nullptr;
    if (arpa.open()) {
        arpa.write("\\data\\\nngram 1=" + QByteArray::number(count) + "\n\n\\1-grams:\n" + unigrams + "\n\\end\\\n");
        arpa.flush();
        // The model takes its own reference on the decoder's logmath.
        lm = ngram_model_read(ps_get_config(wordsDecoder_), QFile::encodeName(arpa.fileName()).constData(), NGRAM_ARPA,
                              ps_get_logmath(wordsDecoder_));
    }
    if (!lm || ps_set_lm(wordsDecoder_, "words", lm) < 0 || ps_set_search(wordsDecoder_, "words") < 0) {
        qWarning("speech: the loop of common words could not be set up");
        ps_free(wordsDecoder_);
        wordsDecoder_ = nullptr;
    }
    if (lm) ngram_model_free(lm);
}

// Each phrase word can also be replaced by one of its sound-alikes, at a cost: a path through one
// means "not a phrase". A path may take several: in noise, or when a word was added or left out, a
// few of them together often explain the speech better than the phrase.
// A word's sound-alikes are the common words that sound most like it: two phones away, or three in
// long words, a vowel for another counting half. Not nearer: that is within how voices and accents
// say the word itself ("track" / "truck"). The nearest of them cost twice as much, as they beat the
// phrase's own word more often by chance ("down" / "don't").
void Recognizer::addSoundAlikesTo(WordGraph& graph) const {
    QHash<QString, QStringList> nearer, farther;
    int arcs = 0;
    for (const QString& word : std::as_const(graph.words)) {
        if (arcs >= SoundAlikeArcs) break;
        char* phones = ps_lookup_word(grammarDecoder_, word.toUtf8().constData());
        if (!phones) continue;
        const QByteArray own = phoneCodes(phones);
        ckd_free(phones);
        const int reach = own.size() <= 5 ? 4 : 6; // in half phones
        std::vector<std::pair<int, int>> near;     // (distance, rank)
        for (int i = 0; i < int(vocabulary_.size()); ++i) {
            const QByteArray& other = vocabulary_[std::size_t(i)].second;
            if (2 * std::abs(other.size() - own.size()) > reach) continue;
            const int d = soundDistance(own, other);
            if (d >= 2 && d <= reach) near.emplace_back(d, i);
        }
        std::sort(near.begin(), near.end());
        for (std::size_t k = 0; k < std::min(near.size(), std::size_t(SoundAlikesPerWord)); ++k, ++arcs)
            (near[k].first < 4 ? nearer : farther)[word]
                << QString::fromLatin1(vocabulary_[std::size_t(near[k].second)].first);
    }
    // Search scores are log probabilities shifted right by 10 bits (SENSCR_SHIFT).
    const int added = addSoundAlikes(graph, nearer, 2 * SoundAlikeMargin << 10, SoundAlikeArcs);
    addSoundAlikes(graph, farther, SoundAlikeMargin << 10, SoundAlikeArcs - added);
}

bool Recognizer::inDictionary(const QString& word) const {
    if (!grammarDecoder_) return false;
    char* phones = ps_lookup_word(grammarDecoder_, word.toUtf8().constData());
    if (!phones) return false;
    ckd_free(phones);
    return true;
}

QString Recognizer::pronounce(const QString& word) {
    return espeakToModelPhones(Espeak::instance().phonemes(word));
}

void Recognizer::setPhrases(const QStringList& phrases) {
    abort();
    grammar_ = buildGrammar(
        phrases, [this](const QString& w) { return inDictionary(w); }, &Recognizer::pronounce);
    for (const QString& why : std::as_const(grammar_.leftOut))
        qWarning("speech: %s", qPrintable(why));
    if (!isAvailable()) return;
    for (int i = 0; i < grammar_.newWords.size(); ++i) {
        const Grammar::Word& w = grammar_.newWords[i];
        if (inDictionary(w.name)) continue;
        // Searches are rebuilt once, with the last word.
        const bool last = i == grammar_.newWords.size() - 1;
        ps_add_word(grammarDecoder_, w.name.toUtf8().constData(), w.phones.toUtf8().constData(), last);
    }
    if (wordsDecoder_) setCommonWordsSearch();
    const QString previous = grammarSearch_;
    grammarSearch_.clear();
    continuations_ = PhraseContinuations();
    if (!grammar_.isEmpty()) {
        const QString name = QStringLiteral("phrases%1").arg(++grammarGeneration_);
        WordGraph graph = wordGraph(grammar_.alternatives);
        addSoundAlikesTo(graph);
        continuations_ = PhraseContinuations(graph);
        fsg_model_t* fsg = searchGraph(grammarDecoder_, name, graph);
        const int set = ps_set_fsg(grammarDecoder_, name.toUtf8().constData(), fsg);
        fsg_model_free(fsg); // the search holds its own reference
        if (set < 0) {
            qWarning("speech: the grammar of %lld phrases was refused by the recogniser", qlonglong(phrases.size()));
            grammar_ = Grammar();
        } else {
            grammarSearch_ = name;
            ps_set_search(grammarDecoder_, name.toUtf8().constData());
        }
    }
    if (!previous.isEmpty()) ps_unset_search(grammarDecoder_, previous.toUtf8().constData());
    applyMode();
}

void Recognizer::setMode(Mode mode) {
    if (mode == mode_) return;
    abort();
    mode_ = mode;
    applyMode();
}

bool Recognizer::applyMode() {
    searchReady_ = false;
    if (!isAvailable()) return false;
    if (mode_ == Mode::Grammar && !grammarSearch_.isEmpty()) {
        searchReady_ = ps_set_search(grammarDecoder_, grammarSearch_.toUtf8().constData()) == 0;
    } else if (mode_ == Mode::Dictation) {
        if (!dictationLoaded_) {
            const QByteArray lm = QFile::encodeName(ModelDir + QStringLiteral("/en-us.lm.bin"));
            dictationLoaded_ = ps_set_lm_file(grammarDecoder_, "dictation", lm.constData()) == 0;
        }
        searchReady_ = dictationLoaded_ && ps_set_search(grammarDecoder_, "dictation") == 0;
    }
    return searchReady_;
}

void Recognizer::startUtterance() {
    // What was heard last tells what this utterance must stand out from when the detector hears it
    // at once: music or noise that goes on after an utterance has no quiet lead-in of its own.
    const std::size_t kept = std::min(utteranceAudio_.size(), LeadInSamples);
    before_.assign(utteranceAudio_.end() - std::ptrdiff_t(kept), utteranceAudio_.end());
    std::size_t k = 0;
    forEachDecoder([&](ps_decoder_t* ps) {
        cmn_t* cmn = cepstralMean(ps);
        meanAtStart_[k].resize(cmn ? std::size_t(cmn->veclen) : 0);
        if (cmn) cmn_live_get(cmn, meanAtStart_[k].data());
        ++k;
    });
    forEachDecoder(ps_start_utt);
    inUtterance_ = true;
    inSpeech_ = false;
    pauseSamples_ = 0;
    utteranceSamples_ = 0;
    utteranceAudio_.clear();
}

void Recognizer::abort() {
    // What comes next does not follow on from what was heard.
    utteranceAudio_.clear();
    before_.clear();
    dropUtterance();
}

void Recognizer::dropUtterance() {
    tailing_ = false;
    if (!inUtterance_) return;
    forEachDecoder(ps_end_utt);
    inUtterance_ = false;
    inSpeech_ = false;
}

// Called where the detector ends an utterance: whether its end waits for the sound to die away.
bool Recognizer::waitsForTail() {
    const std::vector<float> levels =
        frameLevels(utteranceAudio_.data(), utteranceAudio_.data() + utteranceAudio_.size());
    const std::size_t quiet = quietFrames(leadIn_);
    if (quiet < MinQuietFrames || levels.size() <= quiet + 2 * AfterFrames) return false;
    const auto lead = levels.begin() + std::ptrdiff_t(quiet);
    tailQuiet_ = share({levels.begin(), lead}, 0.5);
    tailEnd_ = share({levels.end() - AfterFrames, levels.end()}, 0.5);
    const float loud = share({lead, levels.end() - AfterFrames}, 0.9);
    tailing_ = tailEnd_ > tailQuiet_ + TailNearQuiet && tailEnd_ < loud - TailBelowLoud;
    detectorEnd_ = utteranceAudio_.size();
    return tailing_;
}

// Called on each piece of audio heard while waiting: whether the wait is over, and if so whether
// the sound died away (rather than went on, or a new one began).
bool Recognizer::tailEnds(bool* diedAway) {
    const std::size_t waited = utteranceAudio_.size() - detectorEnd_;
    const int16_t* end = utteranceAudio_.data() + utteranceAudio_.size();
    const std::vector<float> tail = frameLevels(utteranceAudio_.data() + detectorEnd_ - AfterFrames * Frame, end);
    const std::vector<float> last(tail.end() - AfterFrames, tail.end());
    // A word ends with a drop into the quiet; a plucked note fades smoothly into it.
    bool dropped = false;
    for (std::size_t i = 0; i + 2 < tail.size(); ++i)
        dropped = dropped || tail[i] - std::max(tail[i + 1], tail[i + 2]) >= TailDrop;
    const float now = share(last, 0.5);
    *diedAway = dropped && std::abs(now - tailQuiet_) <= TailNearQuiet;
    if (!*diedAway && waited < MaxTailSamples && last.back() < tailEnd_ + TailNearQuiet) return false;
    tailing_ = false;
    return true;
}

bool Recognizer::endUtterance(Result* result) {
    forEachDecoder(ps_end_utt);
    inUtterance_ = false;
    inSpeech_ = false;
    const bool heard = readResult(result);
    Result sound;
    sound.standsOut = standsOut(before_, utteranceAudio_, leadIn_);
    // The pitch of the sound itself: a note fading in its lead-in gave a noise that followed it a
    // pitch of its own.
    measurePitch(leadIn_ > DetectorDelay ? leadIn_ - DetectorDelay : 0, &sound);
    const bool pitched = sound.voicedFrames >= MinVoicedFrames && sound.harmonics >= MinHarmonics;
    if (sound.standsOut < MinStandsOut || !pitched) {
        // Not a command. Music (pitched, going on) must not be learnt by the cepstral mean: it drags
        // the mean away from the voice, and the commands said after it went unheard. Steady noise
        // is learnt as before: the commands are said through it.
        if (pitched) restoreMean();
        if (!heard) return false;
        result->confidence = Confidence::Low;
    } else if (!heard) {
        return false;
    } else if (heardUtterances_++ < WarmUpUtterances && result->confidence != Confidence::High) {
        // The mean has just been updated with this very utterance: hear it once more.
        forEachDecoder([this](ps_decoder_t* ps) {
            ps_start_utt(ps);
            ps_process_raw(ps, utteranceAudio_.data(), utteranceAudio_.size(), FALSE, FALSE);
            ps_end_utt(ps);
        });
        Result again;
        // Confidence first: with several limits, a better overall score does not mean a surer phrase.
        // A sound-alike heard before the mean was learnt may turn out to be the phrase after all.
        if (readResult(&again) && (again.phrase == result->phrase || result->phrase < 0) &&
            std::pair(int(again.confidence), again.score) > std::pair(int(result->confidence), result->score))
            *result = again;
    }
    result->standsOut = sound.standsOut;
    result->voicedFrames = sound.voicedFrames;
    result->harmonics = sound.harmonics;
    return true;
}

// Sound levels in 20 ms frames over the utterance's audio: its lead-in (up to half a second before
// the detector heard speech, which it hears about 0.3 s after it began), the speech, and the silence
// after it that ended it. A command stands out from the quiet on both sides; a noise that starts
// and goes on, or music from note to note, does not, and the decoders can take either for a short
// word ("go", "stop") that fits it well.
float standsOut(const std::vector<int16_t>& before, const std::vector<int16_t>& audio, std::size_t leadIn) {
    // A short lead-in is made up from the end of what was heard before it.
    const std::size_t borrowed = leadIn < LeadInSamples ? std::min(before.size(), LeadInSamples - leadIn) : 0;
    std::vector<float> levels = frameLevels(before.data() + before.size() - borrowed, before.data() + before.size());
    const std::vector<float> heard = frameLevels(audio.data(), audio.data() + audio.size());
    levels.insert(levels.end(), heard.begin(), heard.end());
    // Before: the lead-in less the 0.3 s the detector takes; after: the last 0.1 s.
    const std::size_t beforeFrames = quietFrames(leadIn + borrowed);
    if (levels.size() <= beforeFrames + AfterFrames) return 0;
    const float speech = share({levels.begin() + std::ptrdiff_t(beforeFrames), levels.end() - AfterFrames}, 0.9);
    float around = share({levels.end() - AfterFrames, levels.end()}, 0.5);
    if (beforeFrames > 0)
        around = std::max(around, share({levels.begin(), levels.begin() + std::ptrdiff_t(beforeFrames)}, 0.5));
    return speech - around;
}

// Pitch in 10 ms steps over the loud part of the utterance from `from` on, from the
// autocorrelation of the audio taken down to 8 kHz (plenty for pitch, a quarter of the work). A
// frame is voiced when the audio repeats itself clearly at a lag of 60-400 Hz, past the first dip
// of the autocorrelation (steady low noise, brown above all, correlates at short lags without
// repeating).
void Recognizer::measurePitch(std::size_t from, Result* result) const {
    constexpr std::size_t Hop = 80, Window = 320, MinLag = 20, MaxLag = 134;
    constexpr float Voiced = 0.5f;
    const std::size_t start = std::min(from, utteranceAudio_.size());
    const int16_t* audio = utteranceAudio_.data() + start;
    const std::size_t n = (utteranceAudio_.size() - start) / 2;
    result->voicedFrames = 0;
    result->harmonics = 0;
    if (n < Window + MaxLag + 2) return;
    // Emphasising the highs keeps the low hum of a room from dominating.
    std::vector<float> x(n);
    float previous = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = 0.5f * (float(audio[2 * i]) + float(audio[2 * i + 1]));
        x[i] = v - 0.9f * previous;
        previous = v;
    }
    const std::size_t frames = (n - Window - MaxLag) / Hop;
    std::vector<double> energy(frames);
    double loudest = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        double e = 0;
        for (std::size_t i = f * Hop; i < f * Hop + Window; ++i)
            e += double(x[i]) * x[i];
        energy[f] = e;
        loudest = std::max(loudest, e);
    }
    std::vector<float> lags(frames, 0); // 0: unvoiced or too quiet to tell
    for (std::size_t f = 0; f < frames; ++f) {
        if (energy[f] <= 0 || energy[f] < loudest * 0.03) continue; // 15 dB below the loudest
        const float* a = x.data() + f * Hop;
        double shifted = 0;
        for (std::size_t i = MinLag; i < MinLag + Window; ++i)
            shifted += double(a[i]) * a[i];
        std::vector<float> r(MaxLag + 2, 0);
        for (std::size_t lag = MinLag; lag <= MaxLag + 1; ++lag) {
            double sum = 0;
            for (std::size_t i = 0; i < Window; ++i)
                sum += double(a[i]) * a[i + lag];
            r[lag] = shifted > 0 ? float(sum / std::sqrt(energy[f] * shifted)) : 0;
            shifted += double(a[lag + Window]) * a[lag + Window] - double(a[lag]) * a[lag];
        }
        std::size_t lag = MinLag;
        while (lag <= MaxLag && r[lag] >= 0)
            ++lag;
        std::size_t best = 0;
        for (; lag <= MaxLag; ++lag)
            if (r[lag] > Voiced && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1] && (!best || r[lag] > r[best]))
                best = lag;
        if (!best) continue;
        const float before = r[best - 1], at = r[best], after = r[best + 1];
        const float bend = before - 2 * at + after;
        lags[f] = float(best) + (bend < 0 ? 0.5f * (before - after) / bend : 0.0f);
    }
    // Harmonics present in each voiced frame: the power at each multiple of the pitch (Hann window,
    // Goertzel), counted when within 25 dB of the strongest. A pitch found an octave low adds
    // multiples between the harmonics, which stay weak, so the count holds.
    std::vector<double> hann(Window);
    for (std::size_t i = 0; i < Window; ++i)
        hann[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(Window - 1));
    std::vector<float> counts;
    std::vector<double> power;
    for (std::size_t f = 0; f < frames; ++f) {
        if (lags[f] <= 0) continue;
        ++result->voicedFrames;
        const float* a = x.data() + f * Hop;
        const double f0 = 1.0 / lags[f]; // cycles per sample
        power.clear();
        for (int k = 1; k * f0 * (SampleRate / 2) <= 3800; ++k) {
            const double c = 2 * std::cos(2 * std::numbers::pi * k * f0);
            double s1 = 0, s2 = 0;
            for (std::size_t i = 0; i < Window; ++i) {
                const double s0 = hann[i] * a[i] + c * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            power.push_back(s1 * s1 + s2 * s2 - c * s1 * s2);
        }
        const double strongest = *std::max_element(power.begin(), power.end());
        counts.push_back(
            float(std::count_if(power.begin(), power.end(), [&](double p) { return p >= strongest * 0.00316; })));
    }
    if (!counts.empty()) {
        std::nth_element(counts.begin(), counts.begin() + std::ptrdiff_t(counts.size() / 2), counts.end());
        result->harmonics = counts[counts.size() / 2];
    }
}

bool Recognizer::readResult(Result* result) {
    int32 best = 0;
    const char* hyp = ps_get_hyp(grammarDecoder_, &best);
    if (!hyp || !*hyp) return false;
    static const QRegularExpression alternate(QStringLiteral("\\(\\d+\\)"));
    result->words = QString::fromUtf8(hyp).remove(alternate).simplified();
    result->phrase = grammar_.phraseOf.value(result->words, -1);
    result->frames = ps_get_n_frames(grammarDecoder_);
    if (result->frames <= 0) return false;
    const std::vector<Segment> path = segments(grammarDecoder_);
    const std::vector<Segment> loop = segments(loopDecoder_);
    double grammarScore = 0;
    result->worstWord = 1e9f;
    result->worstFiller = 0;
    for (const Segment& s : path) {
        grammarScore += s.ascr;
        const double loopOver = loopScoreOver(loop, s.first, s.last);
        // A filler that the phone loop explains much better hides speech outside the phrase.
        if (isFiller(s.word))
            result->worstFiller = std::min(result->worstFiller, float(s.ascr - loopOver));
        else
            result->worstWord = std::min(result->worstWord, float((s.ascr - loopOver) / (s.last - s.first + 1)));
    }
    result->score = float(grammarScore - total(loop)) / float(result->frames);
    // Speech one word away from a phrase is explained better by common words than by the phrase,
    // where the phone loop (context-independent, so always somewhat worse than words) cannot tell.
    if (wordsDecoder_)
        result->againstWords = float(grammarScore - total(segments(wordsDecoder_))) / float(result->frames);
    result->confidence = classify(*result);
    // A path through a sound-alike: something else was said.
    if (mode_ == Mode::Grammar && result->phrase < 0) result->confidence = Confidence::Low;
    return true;
}

// Called on each piece of silence after speech: whether the utterance ends with it. It ends at once
// unless the words heard so far may go on into a longer phrase; then it waits for the rest.
bool Recognizer::endsHere(std::size_t samples) {
    if (pauseSamples_ == 0) {
        const char* hyp = mode_ == Mode::Grammar ? ps_get_hyp(grammarDecoder_, nullptr) : nullptr;
        static const QRegularExpression alternate(QStringLiteral("\\(\\d+\\)"));
        // Noise that comes and goes is never waited for: the rest of it would swallow the command
        // said after it.
        waitSamples_ = hyp && continuations_.mayGoOn(QString::fromUtf8(hyp).remove(alternate)) &&
                               standsOut(before_, utteranceAudio_, leadIn_) >= MinStandsOut
                           ? phrasePauseSamples_
                           : 0;
    }
    pauseSamples_ += samples;
    return pauseSamples_ > waitSamples_;
}

std::vector<Recognizer::Result> Recognizer::process(const int16_t* samples, std::size_t count) {
    std::vector<Result> results;
    if (!searchReady_) return results;
    for (std::size_t offset = 0; offset < count; offset += ChunkSamples) {
        const std::size_t n = std::min(ChunkSamples, count - offset);
        if (tailing_) {
            utteranceAudio_.insert(utteranceAudio_.end(), samples + offset, samples + offset + n);
            bool diedAway = false;
            if (!tailEnds(&diedAway)) continue;
            // The wait only measured the tail: it is heard again as the start of what follows, as it
            // would have been without the wait. A sound that starts in the tail, or a tail that does
            // not die away, is measured as the detector ended it.
            const std::vector<int16_t> tail(utteranceAudio_.begin() + std::ptrdiff_t(detectorEnd_),
                                            utteranceAudio_.end());
            if (!diedAway) utteranceAudio_.resize(detectorEnd_);
            Result r;
            if (endUtterance(&r)) results.push_back(r);
            utteranceAudio_.resize(detectorEnd_);
            std::vector<Result> more = process(tail.data(), tail.size());
            results.insert(results.end(), more.begin(), more.end());
            continue;
        }
        if (!inUtterance_) startUtterance();
        utteranceAudio_.insert(utteranceAudio_.end(), samples + offset, samples + offset + n);
        forEachDecoder([&](ps_decoder_t* ps) { ps_process_raw(ps, samples + offset, n, FALSE, FALSE); });
        utteranceSamples_ += n;
        const bool speech = ps_get_in_speech(grammarDecoder_);
        if (speech && !inSpeech_) {
            inSpeech_ = true;
            leadIn_ = utteranceAudio_.size() - n;
            utteranceSamples_ = n;
        }
        if (!inSpeech_ && utteranceAudio_.size() > LeadInSamples)
            utteranceAudio_.erase(utteranceAudio_.begin(), utteranceAudio_.end() - LeadInSamples);
        if (speech) pauseSamples_ = 0;
        if (inSpeech_ && !speech && endsHere(n)) {
            if (waitsForTail()) continue;
            Result r;
            if (endUtterance(&r)) results.push_back(r);
        } else if (utteranceSamples_ > (inSpeech_ ? MaxSpeechSamples : MaxSilentSamples)) {
            const bool noise = inSpeech_;
            dropUtterance();
            // Long "speech" drags the running cepstral mean towards the noise, and speech after
            // it would go unrecognised for a long while.
            if (noise) forgetLoudSound();
        }
    }
    return results;
}

} // namespace speech
