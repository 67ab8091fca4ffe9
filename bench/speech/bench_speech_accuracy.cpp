// Accuracy of the recogniser's confidence on the benchmark utterances, fed from synthesised
// audio files straight into the decoders. Prints true and false accepts at high confidence, per
// voice group, and a sweep of thresholds used to calibrate the confidence classes.
#include "corpus.h"
#include "speech/recognizer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

using speech::Recognizer;

namespace {

struct Outcome {
    const corpus::Utterance* utterance;
    std::vector<Recognizer::Result> results;
};

struct Rates {
    int inGrammar = 0, accepted = 0, outOfGrammar = 0, falseAccepts = 0, wrongPhrase = 0;
};

// heldOut: 0 calibration voices only, 1 held-out voices only, -1 all.
template <typename Accept> Rates rate(const std::vector<Outcome>& outcomes, int heldOut, Accept accept) {
    Rates r;
    for (const Outcome& o : outcomes) {
        if (heldOut >= 0 && o.utterance->voice.heldOut != bool(heldOut)) continue;
        if (o.utterance->kind == "sound-alike") continue;
        const int expected = o.utterance->expected;
        bool right = false, wrong = false;
        for (const Recognizer::Result& res : o.results) {
            if (accept(res)) (res.phrase == expected && expected >= 0 ? right : wrong) = true;
        }
        if (expected >= 0) {
            ++r.inGrammar;
            r.accepted += right;
            r.wrongPhrase += wrong;
        } else {
            ++r.outOfGrammar;
            r.falseAccepts += wrong;
        }
    }
    return r;
}

void print(const char* label, const Rates& r) {
    std::printf("%-20s true accepts %3d/%3d = %5.1f%%   false accepts %3d/%3d = %4.1f%%   wrong phrase %d\n", label,
                r.accepted, r.inGrammar, 100.0 * r.accepted / std::max(1, r.inGrammar), r.falseAccepts, r.outOfGrammar,
                100.0 * r.falseAccepts / std::max(1, r.outOfGrammar), r.wrongPhrase);
}

bool isHigh(const Recognizer::Result& r) {
    return r.confidence == speech::Confidence::High;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!testaudio::toolsAvailable()) {
        std::printf("bench_speech_accuracy: espeak-ng or sox missing, nothing measured\n");
        return 0;
    }
    const int limit = argc > 1 ? std::atoi(argv[1]) : 0;
    QElapsedTimer t;
    t.start();
    const std::vector<corpus::Utterance> utterances = corpus::build(limit);
    std::printf("corpus: %zu utterances synthesised in %.1f s\n", utterances.size(), t.elapsed() / 1000.0);

    Recognizer recognizer;
    if (!recognizer.isAvailable()) {
        std::printf("bench_speech_accuracy: no recognition model, nothing measured\n");
        return 0;
    }
    recognizer.setPhrases(corpus::phrases());
    recognizer.setMode(Recognizer::Mode::Grammar);

    std::vector<Outcome> outcomes;
    std::size_t audioSamples = 0;
    t.restart();
    unsigned seed = 1;
    for (const corpus::Utterance& u : utterances) {
        testaudio::Samples audio = testaudio::silence(0.4);
        testaudio::append(audio, u.audio);
        testaudio::append(audio, testaudio::silence(0.8));
        testaudio::addNoiseFloor(audio, 20, seed++);
        audioSamples += audio.size();
        Outcome o{&u, recognizer.process(audio.data(), audio.size())};
        for (const Recognizer::Result& r : o.results) {
            if (std::getenv("VORLIX_BENCH_VERBOSE"))
                std::printf("  %-10s %-18s %-40s -> %-20s %7.1f %7.1f %7.1f %7.1f (%d frames)\n", qPrintable(u.kind),
                            qPrintable(u.voice.name + "/" + QString::number(u.voice.wpm)), qPrintable(u.text),
                            qPrintable(r.words), r.score, r.worstWord, r.worstFiller, r.wordScore, r.frames);
        }
        outcomes.push_back(o);
    }
    const double cpu = t.elapsed() / 1000.0;
    std::printf("decoding: %.1f s of audio in %.1f s (%.3f s per audio second)\n\n", audioSamples / 16000.0, cpu,
                cpu / (audioSamples / 16000.0));

    std::printf("high confidence: score >= %.0f, words >= %.0f, worst word >= %.0f, worst filler >= %.0f\n",
                speech::HighConfidenceScore, speech::HighConfidenceWords, speech::HighConfidenceWorstWord,
                speech::HighConfidenceWorstFiller);
    print("all voices", rate(outcomes, -1, isHigh));
    print("calibration voices", rate(outcomes, 0, isHigh));
    print("held-out voices", rate(outcomes, 1, isHigh));

    std::map<QString, std::pair<int, int>> byKind;
    for (const Outcome& o : outcomes) {
        auto& [n, hits] = byKind[o.utterance->kind];
        ++n;
        hits += std::any_of(o.results.begin(), o.results.end(), [&](const Recognizer::Result& r) {
            return isHigh(r) && (o.utterance->expected < 0 || r.phrase == o.utterance->expected);
        });
    }
    std::printf("\naccepted at high confidence, by kind:\n");
    for (const auto& [kind, c] : byKind)
        std::printf("  %-10s %3d/%3d\n", qPrintable(kind), c.second, c.first);

    std::printf("\nsweep of the score threshold, other high-confidence limits kept (calibration | held-out):\n");
    for (float th = -40; th <= 0; th += 2) {
        auto accept = [th](const Recognizer::Result& r) {
            return r.score >= th && r.wordScore >= speech::HighConfidenceWords &&
                   r.worstWord >= speech::HighConfidenceWorstWord && r.worstFiller >= speech::HighConfidenceWorstFiller;
        };
        const Rates c = rate(outcomes, 0, accept), h = rate(outcomes, 1, accept);
        std::printf("  %5.0f  TA %5.1f%% FA %4.1f%% | TA %5.1f%% FA %4.1f%%\n", th, 100.0 * c.accepted / c.inGrammar,
                    100.0 * (c.falseAccepts + c.wrongPhrase) / c.outOfGrammar, 100.0 * h.accepted / h.inGrammar,
                    100.0 * (h.falseAccepts + h.wrongPhrase) / h.outOfGrammar);
    }
    return 0;
}
