// Accuracy of the recogniser's confidence, fed from synthesised speech and real recordings
// straight into the decoders. Prints true and false accepts at high confidence per kind of
// utterance and per voice group (calibration voices apart from held-out ones), the same for
// awkward phrase lists and for real recordings, the most phrases other limits would accept at a
// few rates of near misses, and the CPU used while speech is decoded.
//   bench_speech_accuracy [limit] [main|extra|trained [voices]]
// limit: about that many utterances of the main set; main or extra (awkward phrase lists and
// recordings) alone; trained: each voice (about `voices` of them, all by default) decoded without
// and with a model adapted to it on the training sentences, and with another voice's model. VORLIX_BENCH_VERBOSE=1
// prints every result, VORLIX_BENCH_DUMP=file writes them as tab-separated lines for calibrating the limits.
#include "corpus.h"
#include "speech/recognizer.h"
#include "speech/voicemodel.h"
#include "speech/voicetrainer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

using speech::Recognizer;

namespace {

struct Outcome {
    const corpus::Utterance* utterance;
    bool right = false; // the expected phrase at high confidence
    bool wrong = false; // another phrase (or any, when none is expected) at high confidence
    std::vector<Recognizer::Result> results;
};

struct Count {
    int n = 0, accepted = 0, wrong = 0;
    void add(const Outcome& o) {
        ++n;
        accepted += o.utterance->expected >= 0 ? o.right : o.wrong;
        wrong += o.utterance->expected >= 0 && o.wrong;
    }
};

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

double audioSeconds = 0, decodeCpu = 0;

// 0, 1: espeak-ng calibration and held-out voices; 2, 3: the same of flite.
int group(const corpus::Voice& v) {
    return (v.name.startsWith("flite:") ? 2 : 0) + (v.heldOut ? 1 : 0);
}
FILE* dump = nullptr;

// `model`: an acoustic model adapted to one voice, or empty for the shipped one.
std::vector<Outcome> decode(const corpus::PhraseSet& set, const QString& model = QString()) {
    QElapsedTimer t;
    t.start();
    Recognizer recognizer(model);
    const qint64 loaded = t.restart();
    recognizer.setPhrases(set.phrases);
    recognizer.setMode(Recognizer::Mode::Grammar);
    std::printf("%s: model loaded in %lld ms, %lld phrases set in %lld ms\n", qPrintable(set.name), loaded,
                qlonglong(set.phrases.size()), t.elapsed());
    const bool verbose = std::getenv("VORLIX_BENCH_VERBOSE");
    std::vector<Outcome> outcomes;
    unsigned seed = 1;
    for (const corpus::Utterance& u : set.utterances) {
        // Room noise runs on before and after the speech, as a fan's does; a few seconds of it
        // stand for the minutes a fan runs before anyone speaks.
        const bool noisy = u.kind.endsWith("in noise");
        testaudio::Samples audio = testaudio::silence(noisy ? 3.0 : 0.4);
        testaudio::append(audio, u.audio);
        // Long enough for the end of an utterance that waits for more of a phrase (750 ms), so that
        // its result is not taken for the next utterance's.
        testaudio::append(audio, testaudio::silence(1.2));
        if (noisy) testaudio::addRoomNoise(audio, testaudio::rms(u.audio));
        testaudio::addNoiseFloor(audio, 20, seed++);
        audioSeconds += audio.size() / 16000.0;
        const double before = cpuSeconds();
        const std::vector<Recognizer::Result> results = recognizer.process(audio.data(), audio.size());
        decodeCpu += cpuSeconds() - before;
        Outcome o{&u, false, false, results};
        for (const Recognizer::Result& r : results)
            if (r.confidence == speech::Confidence::High)
                (r.phrase == u.expected && u.expected >= 0 ? o.right : o.wrong) = true;
        // One line per result, or per utterance without one, for calibrating the limits.
        if (dump)
            for (std::size_t k = 0; k < std::max<std::size_t>(1, results.size()); ++k) {
                const Recognizer::Result r = k < results.size() ? results[k] : Recognizer::Result();
                std::fprintf(dump, "%s\t%s\t%s\t%d\t%d\t%s\t%d\t%s\t%d\t%g\t%g\t%g\t%g\t%g\t%d\t%g\n",
                             qPrintable(set.name), qPrintable(u.kind), qPrintable(u.voice.name), group(u.voice),
                             u.expected, qPrintable(u.text), r.phrase, qPrintable(r.words), int(r.confidence), r.score,
                             r.worstWord, r.worstFiller, r.againstWords, r.standsOut, r.voicedFrames, r.harmonics);
            }
        for (const Recognizer::Result& r : results)
            if (verbose)
                std::printf("  %-14s %-24s %-40s -> %-30s %2d %7.1f %7.1f %7.1f %7.1f\n", qPrintable(u.kind),
                            qPrintable(u.voice.name + "/" + QString::number(u.voice.wpm)), qPrintable(u.text),
                            qPrintable(r.words), int(r.confidence), r.score, r.worstWord, r.worstFiller,
                            r.againstWords);
        outcomes.push_back(o);
    }
    return outcomes;
}

void line(const char* label, const Count& c, bool inGrammar) {
    std::printf("  %-26s %s %4d/%4d = %5.1f%%", label, inGrammar ? "accepted      " : "false accepts ", c.accepted, c.n,
                100.0 * c.accepted / std::max(1, c.n));
    if (c.wrong) std::printf("   (%d taken for another phrase)", c.wrong);
    std::printf("\n");
}

bool isNearMiss(const QString& kind) {
    return kind == "similar word" || kind == "plain word" || kind == "word added" || kind == "word dropped";
}

// Per kind, then summaries, for one set; `groups` splits calibration from held-out voices.
void report(const corpus::PhraseSet& set, const std::vector<Outcome>& outcomes, bool groups) {
    std::printf("\n== %s: %lld phrases, %zu utterances\n", qPrintable(set.name), qlonglong(set.phrases.size()),
                outcomes.size());
    std::map<QString, Count> byKind[5];
    Count nearMiss[5], phrase[5], unrelated[5];
    for (const Outcome& o : outcomes) {
        const QString& kind = o.utterance->kind;
        for (int k : {group(o.utterance->voice), 4}) {
            byKind[k][kind].add(o);
            if (isNearMiss(kind))
                nearMiss[k].add(o);
            else if (kind == "phrase")
                phrase[k].add(o);
            else if (kind == "sentence" || kind == "noise")
                unrelated[k].add(o);
        }
    }
    const char* names[] = {"espeak-ng, calibration voices", "espeak-ng, held-out voices", "flite, calibration voices",
                           "flite, held-out voices", "all"};
    for (int k = groups ? 0 : 4; k < 5; ++k) {
        if (k < 4 && byKind[k].empty()) continue;
        std::printf(" %s:\n", names[k]);
        for (const auto& [kind, c] : byKind[k])
            if (c.n)
                line(qPrintable(kind), c,
                     kind.startsWith("phrase") ||
                         (kind.startsWith("recording") && !kind.contains(':') && !kind.contains("unrelated")));
        if (nearMiss[k].n) line("near misses, all kinds", nearMiss[k], false);
        if (unrelated[k].n) line("sentences and noise", unrelated[k], false);
    }
}

// What other limits on the two scores that separate near misses would buy, per synthesiser: the most
// phrases accepted with at most 1, 2 and 5% of near misses, the other limits as they are. Shows how far
// the scores separate the two, apart from where the limits now sit.
void tradeOff(const std::vector<Outcome>& outcomes) {
    struct Point {
        int phrases = 0, inNoise = 0, nearMisses = 0;
        float against = 0, worstWord = 0;
    };
    for (const bool flite : {false, true}) {
        std::vector<const Outcome*> mine;
        int phrases = 0, nearMisses = 0;
        for (const Outcome& o : outcomes)
            if (o.utterance->voice.name.startsWith("flite:") == flite) {
                mine.push_back(&o);
                phrases += o.utterance->kind == "phrase";
                nearMisses += isNearMiss(o.utterance->kind);
            }
        if (!phrases || !nearMisses) continue;
        std::vector<Point> points;
        for (float against = -26; against <= -4; against += 2)
            for (float worstWord = -60; worstWord <= -15; worstWord += 5) {
                Point p{0, 0, 0, against, worstWord};
                for (const Outcome* o : mine) {
                    bool heard = false, expected = false;
                    for (const Recognizer::Result& r : o->results) {
                        if (r.phrase < 0 || speech::classify(r, {.worstWord = worstWord, .againstWords = against}) !=
                                                speech::Confidence::High)
                            continue;
                        heard = true;
                        expected = expected || r.phrase == o->utterance->expected;
                    }
                    const QString& kind = o->utterance->kind;
                    p.phrases += kind == "phrase" && expected;
                    p.inNoise += kind == "phrase in noise" && expected;
                    p.nearMisses += isNearMiss(kind) && heard;
                }
                points.push_back(p);
            }
        std::printf(" %s, other limits on against common words and worst word:\n", flite ? "flite" : "espeak-ng");
        for (const double share : {0.01, 0.02, 0.05}) {
            const Point* best = nullptr;
            for (const Point& p : points)
                if (p.nearMisses <= share * nearMisses &&
                    (!best || std::pair(p.phrases, p.inNoise) > std::pair(best->phrases, best->inNoise)))
                    best = &p;
            if (best)
                std::printf("  near misses <= %2.0f%%: phrases %4d/%4d = %5.1f%%, %3d in noise (against words >= %.0f, "
                            "worst word >= %.0f)\n",
                            share * 100, best->phrases, phrases, 100.0 * best->phrases / phrases, best->inNoise,
                            best->against, best->worstWord);
        }
    }
}

// Voice training: a pass per voice. The voice says the training sentences, the model is adapted to
// them, and the voice's utterances of the main set (and the noises) are decoded by a fresh recogniser
// with the shipped model, with the voice's own model and with the previous voice's model.
struct TrainedCounts {
    Count phrase, inNoise, nearMiss, unrelated;
    void add(const std::vector<Outcome>& outcomes) {
        for (const Outcome& o : outcomes) {
            const QString& kind = o.utterance->kind;
            if (kind == "phrase")
                phrase.add(o);
            else if (kind == "phrase in noise")
                inNoise.add(o);
            else if (isNearMiss(kind))
                nearMiss.add(o);
            else if (kind == "sentence" || kind == "noise")
                unrelated.add(o);
        }
    }
};

speech::VoiceTrainer::Result adaptTo(const corpus::Voice& voice, const speech::VoiceProfile& profile) {
    const QStringList& texts = speech::trainingSentences();
    const std::vector<testaudio::Samples> said = corpus::speakAll(texts, voice);
    QList<speech::VoiceTrainer::Take> takes;
    QDir().mkpath(profile.recordingsFolder());
    for (int i = 0; i < texts.size(); ++i) {
        testaudio::Samples audio = testaudio::silence(0.3);
        testaudio::append(audio, said[std::size_t(i)]);
        testaudio::append(audio, testaudio::silence(0.3));
        testaudio::addNoiseFloor(audio, 20, unsigned(i + 1));
        testaudio::writeWav(profile.recordingFile(i), audio);
        takes << speech::VoiceTrainer::Take{i, texts[i], profile.recordingFile(i)};
    }
    speech::VoiceTrainer trainer;
    speech::VoiceTrainer::Result result;
    QEventLoop loop;
    QObject::connect(&trainer, &speech::VoiceTrainer::finished, [&](const speech::VoiceTrainer::Result& r) {
        result = r;
        loop.quit();
    });
    trainer.start(profile, takes);
    loop.exec();
    return result;
}

void trainedPass(const corpus::PhraseSet& main, int maxVoices) {
    std::vector<corpus::Voice> voices;
    std::vector<const corpus::Utterance*> noises;
    auto same = [](const corpus::Voice& a, const corpus::Voice& b) {
        return a.name == b.name && a.wpm == b.wpm && a.pitch == b.pitch;
    };
    for (const corpus::Utterance& u : main.utterances) {
        if (u.kind == "noise")
            noises.push_back(&u);
        else if (std::none_of(voices.begin(), voices.end(), [&](const corpus::Voice& v) { return same(v, u.voice); }))
            voices.push_back(u.voice);
    }
    if (maxVoices > 0 && int(voices.size()) > maxVoices) {
        // Every n-th voice, so that both synthesisers and both groups stay in.
        std::vector<corpus::Voice> kept;
        const double step = double(voices.size()) / maxVoices;
        for (double k = 0; k < voices.size(); k += step)
            kept.push_back(voices[std::size_t(k)]);
        voices.swap(kept);
    }
    std::printf("\n== trained: %zu voices, each adapted on %lld training sentences\n", voices.size(),
                qlonglong(speech::trainingSentences().size()));
    QTemporaryDir work;
    corpus::PhraseSet noiseSet{"noises", main.phrases, {}};
    for (const corpus::Utterance* n : noises)
        noiseSet.utterances.push_back(*n);
    const std::vector<Outcome> noiseOutcomes = decode(noiseSet);
    TrainedCounts untrained[4], trained[4], other[4];
    std::vector<qint64> times;
    qint64 modelBytes = 0;
    int unusable = 0, failed = 0, twice = 0;
    QString previousModel;
    for (std::size_t vi = 0; vi < voices.size(); ++vi) {
        const corpus::Voice& v = voices[vi];
        corpus::PhraseSet own{"trained " + v.name, main.phrases, {}};
        for (const corpus::Utterance& u : main.utterances)
            if (same(u.voice, v)) own.utterances.push_back(u);
        corpus::PhraseSet withNoise = own;
        for (const corpus::Utterance* n : noises)
            withNoise.utterances.push_back(*n);
        const speech::VoiceProfile profile(work.filePath(QString::number(vi)));
        const speech::VoiceTrainer::Result r = adaptTo(v, profile);
        times.push_back(r.milliseconds);
        unusable += int(r.unusable.size());
        twice += r.passes == 2;
        std::printf("%s/%d: %s in %.1f s, %d of %d sentences used, %d passes (fit %+.1f per frame)\n",
                    qPrintable(v.name), v.wpm, r.ok ? "adapted" : qPrintable("not adapted: " + r.message),
                    r.milliseconds / 1000.0, r.used, r.total, r.passes, r.gain);
        std::fflush(stdout);
        const int g = group(v);
        untrained[g].add(decode(own));
        // A fresh recogniser with the shipped model hears the noises alike for every voice.
        untrained[g].add(noiseOutcomes);
        if (!r.ok) {
            ++failed;
            continue;
        }
        modelBytes = r.modelBytes;
        trained[g].add(decode(withNoise, profile.modelFolder()));
        if (!previousModel.isEmpty()) other[g].add(decode(own, previousModel));
        previousModel = profile.modelFolder();
    }
    const char* names[] = {"espeak-ng, calibration voices", "espeak-ng, held-out voices", "flite, calibration voices",
                           "flite, held-out voices"};
    auto cell = [](const Count& c) {
        return QStringLiteral("%1/%2 = %3%")
            .arg(c.accepted)
            .arg(c.n)
            .arg(100.0 * c.accepted / std::max(1, c.n), 0, 'f', 1);
    };
    std::printf("\n%-32s %-22s %-22s %-22s %-22s\n", "trained (high confidence)", "untrained", "trained",
                "another voice's model", "");
    for (int g = 0; g < 4; ++g) {
        if (!untrained[g].phrase.n) continue;
        std::printf(" %s:\n", names[g]);
        const std::pair<const char*, Count TrainedCounts::*> rows[] = {
            {"phrases", &TrainedCounts::phrase},
            {"phrases in room noise", &TrainedCounts::inNoise},
            {"near misses", &TrainedCounts::nearMiss},
            {"sentences and noise", &TrainedCounts::unrelated}};
        for (const auto& [label, member] : rows)
            std::printf("  %-30s %-22s %-22s %-22s\n", label, qPrintable(cell(untrained[g].*member)),
                        qPrintable(cell(trained[g].*member)), qPrintable(cell(other[g].*member)));
    }
    std::sort(times.begin(), times.end());
    if (!times.empty())
        std::printf("training: median %.1f s, longest %.1f s per voice (wall clock); adapted model %.1f MB; %d "
                    "training sentences not aligned; %d voices not adapted, %d adapted twice\n",
                    times[times.size() / 2] / 1000.0, times.back() / 1000.0, modelBytes / 1e6, unusable, failed, twice);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!testaudio::toolsAvailable()) {
        std::printf("bench_speech_accuracy: espeak-ng or sox missing, nothing measured\n");
        return 0;
    }
    if (!Recognizer().isAvailable()) {
        std::printf("bench_speech_accuracy: no recognition model, nothing measured\n");
        return 0;
    }
    const int limit = argc > 1 ? std::atoi(argv[1]) : 0;
    // "main" or "extra" (awkward phrase lists and recordings) alone, to run the two side by side.
    const QString part = argc > 2 ? QString::fromLatin1(argv[2]) : QString();
    QElapsedTimer t;
    t.start();
    const corpus::PhraseSet main = part == "extra" ? corpus::PhraseSet() : corpus::build(limit);
    const bool extra = part != "main" && part != "trained";
    const std::vector<corpus::PhraseSet> bad =
        extra && !limit ? corpus::badInputSets() : std::vector<corpus::PhraseSet>();
    const std::vector<corpus::PhraseSet> recordings =
        extra ? corpus::recordingSets() : std::vector<corpus::PhraseSet>();
    std::printf("corpus: %zu utterances synthesised in %.1f s; high confidence: worst word >= %.0f, worst filler >= "
                "%.0f, against common words >= %.0f; sound-alike margin %d\n",
                main.utterances.size(), t.elapsed() / 1000.0, speech::HighConfidenceWorstWord,
                speech::HighConfidenceWorstFiller, speech::HighConfidenceAgainstWords, speech::SoundAlikeMargin);
    if (const char* path = std::getenv("VORLIX_BENCH_DUMP")) dump = std::fopen(path, "w");
    std::fflush(stdout);

    if (part == "trained") {
        QString why;
        if (!speech::VoiceTrainer::toolsAvailable(&why)) {
            std::printf("bench_speech_accuracy: %s\n", qPrintable(why));
            return 0;
        }
        trainedPass(main, argc > 3 ? std::atoi(argv[3]) : 0);
        return 0;
    }
    if (!main.utterances.empty()) {
        const std::vector<Outcome> outcomes = decode(main);
        report(main, outcomes, true);
        tradeOff(outcomes);
    }
    std::fflush(stdout);
    for (const corpus::PhraseSet& s : recordings)
        report(s, decode(s), false);
    for (const corpus::PhraseSet& s : bad)
        report(s, decode(s), false);
    std::printf("\ndecoding: %.0f s of audio, %.3f s of CPU per audio second\n", audioSeconds,
                decodeCpu / audioSeconds);
    return 0;
}
