// Accuracy of the recogniser's confidence on the benchmark utterances, fed from synthesised
// audio files straight into the decoders. Prints true and false accepts at high confidence, per
// voice group, and a sweep of thresholds used to calibrate the confidence classes.
#include "corpus.h"
#include "speech/recognizer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <map>

using speech::Recognizer;

namespace {

struct Outcome {
    const corpus::Utterance* utterance;
    float rightScore = -1e9f; // best score of a result naming the expected phrase
    float wrongScore = -1e9f; // best score of a result naming any other phrase
};

struct Rates {
    int inGrammar = 0, accepted = 0, outOfGrammar = 0, falseAccepts = 0, wrongPhrase = 0;
};

Rates rate(const std::vector<Outcome>& outcomes, float threshold, int heldOut) {
    Rates r;
    for (const Outcome& o : outcomes) {
        if (heldOut >= 0 && o.utterance->voice.heldOut != bool(heldOut))
            continue;
        if (o.utterance->expected >= 0) {
            ++r.inGrammar;
            r.accepted += o.rightScore >= threshold;
            r.wrongPhrase += o.wrongScore >= threshold;
        } else {
            ++r.outOfGrammar;
            r.falseAccepts += o.wrongScore >= threshold;
        }
    }
    return r;
}

void print(const char* label, const Rates& r) {
    std::printf("%-22s true accepts %3d/%3d = %5.1f%%   false accepts %3d/%3d = %4.1f%%   wrong phrase %d\n", label,
                r.accepted, r.inGrammar, 100.0 * r.accepted / std::max(1, r.inGrammar), r.falseAccepts,
                r.outOfGrammar, 100.0 * r.falseAccepts / std::max(1, r.outOfGrammar), r.wrongPhrase);
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
        Outcome o{&u};
        for (const Recognizer::Result& r : recognizer.process(audio.data(), audio.size())) {
            float& slot = r.phrase == u.expected ? o.rightScore : o.wrongScore;
            slot = std::max(slot, r.score);
            if (std::getenv("VORLIX_BENCH_VERBOSE"))
                std::printf("  %-10s %-14s %-40s -> %-20s %7.1f (%d frames)\n", qPrintable(u.kind),
                            qPrintable(u.voice.name), qPrintable(u.text), qPrintable(r.words), r.score, r.frames);
        }
        outcomes.push_back(o);
    }
    const double cpu = t.elapsed() / 1000.0;
    std::printf("decoding: %.1f s of audio in %.1f s (%.3f s per audio second)\n\n", audioSamples / 16000.0, cpu,
                cpu / (audioSamples / 16000.0));

    std::printf("thresholds in use: high %.0f, normal %.0f\n", speech::HighConfidenceScore,
                speech::NormalConfidenceScore);
    print("all voices", rate(outcomes, speech::HighConfidenceScore, -1));
    print("calibration voices", rate(outcomes, speech::HighConfidenceScore, 0));
    print("held-out voices", rate(outcomes, speech::HighConfidenceScore, 1));

    std::map<QString, std::pair<int, int>> byKind;
    for (const Outcome& o : outcomes) {
        auto& [n, hits] = byKind[o.utterance->kind];
        ++n;
        hits += (o.utterance->expected >= 0 ? o.rightScore : o.wrongScore) >= speech::HighConfidenceScore;
    }
    std::printf("\naccepted at high confidence, by kind:\n");
    for (const auto& [kind, c] : byKind)
        std::printf("  %-10s %3d/%3d\n", qPrintable(kind), c.second, c.first);

    std::printf("\nthreshold sweep (calibration voices | held-out voices):\n");
    for (float th = -150; th <= 0; th += 5) {
        const Rates c = rate(outcomes, th, 0), h = rate(outcomes, th, 1);
        std::printf("  %5.0f  TA %5.1f%% FA %4.1f%% | TA %5.1f%% FA %4.1f%%\n", th, 100.0 * c.accepted / c.inGrammar,
                    100.0 * (c.falseAccepts + c.wrongPhrase) / c.outOfGrammar, 100.0 * h.accepted / h.inGrammar,
                    100.0 * (h.falseAccepts + h.wrongPhrase) / h.outOfGrammar);
    }
    return 0;
}
