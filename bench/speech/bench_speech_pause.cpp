// A phrase said with a short pause between two of its words: accepted as the phrase, or split into
// two utterances and lost? Every phrase of several words is said whole, then as two parts
// synthesised apart, trimmed of their silence and joined with no pause, with 250 ms and with 400 ms of silence between
// them, by flite and espeak-ng voices, straight into the recogniser.
//   bench_speech_pause [voices] [wait]   (voices: at most that many, default all; wait: the longer end
//                                         wait in ms to try instead of the recogniser's own)
#include "corpus.h"
#include "speech/lexicon.h"
#include "speech/recognizer.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <map>

using speech::Recognizer;

namespace {

// The part without the silence the synthesiser puts before and after it, so that the pause between
// the parts is the one added.
testaudio::Samples trimmed(const testaudio::Samples& s) {
    std::size_t from = 0, to = s.size();
    while (from < to && std::abs(int(s[from])) < 50)
        ++from;
    while (to > from && std::abs(int(s[to - 1])) < 50)
        --to;
    return testaudio::Samples(s.begin() + std::ptrdiff_t(from), s.begin() + std::ptrdiff_t(to));
}

struct Count {
    int n = 0, accepted = 0, split = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!testaudio::toolsAvailable() || !Recognizer().isAvailable()) {
        std::printf("bench_speech_pause: espeak-ng, sox or the recognition model missing, nothing measured\n");
        return 0;
    }
    std::vector<corpus::Voice> voices = {{"flite:kal16", 100, 0, false},
                                         {"flite:awb", 100, 0, false},
                                         {"flite:rms", 100, 0, true},
                                         {"flite:slt", 100, 0, true}};
    const std::vector<corpus::Voice> espeak = corpus::voices();
    for (std::size_t i = 0; i < espeak.size(); i += 13)
        voices.push_back(espeak[i]);
    if (argc > 1) voices.resize(std::min<std::size_t>(voices.size(), std::size_t(std::atoi(argv[1]))));

    // The bench's phrases, and a list in which phrases go on into others.
    const std::vector<std::pair<QString, QStringList>> lists = {
        {"main", corpus::phrases()},
        {"prefixes", {"scroll", "scroll down", "scroll down fast", "open", "open mail", "go", "go back"}}};
    const char* ways[] = {"whole", "two parts, no pause", "pause 250 ms", "pause 400 ms"};
    const int pauses[] = {-1, 0, 250, 400};
    // With the end of an utterance 150 ms after the last sound whatever was heard, as before, and as it is.
    for (const auto& [name, phrases] : lists) {
        // Per phrase and voice: the whole phrase, then its two parts, split after a rotating word.
        std::vector<corpus::Utterance> said;
        struct Case {
            int phrase;
            std::size_t whole, first, second;
        };
        std::vector<Case> cases;
        for (std::size_t v = 0; v < voices.size(); ++v)
            for (int i = 0; i < phrases.size(); ++i) {
                const QStringList words = phrases[i].split(' ');
                if (words.size() < 2) continue;
                const int at = 1 + int((v + std::size_t(i)) % std::size_t(words.size() - 1));
                Case c{i, said.size(), said.size() + 1, said.size() + 2};
                said.push_back({phrases[i], voices[v], i, "phrase", {}});
                said.push_back({words.mid(0, at).join(' '), voices[v], i, "part", {}});
                said.push_back({words.mid(at).join(' '), voices[v], i, "part", {}});
                cases.push_back(c);
            }
        corpus::synthesiseAll(said);
        // With the end of an utterance 150 ms after the last sound whatever was heard, as before, and as it is.
        for (const bool waits : {false, true}) {
            Recognizer recognizer;
            if (!waits) recognizer.setPhrasePause(0);
            if (waits && argc > 2) recognizer.setPhrasePause(std::atoi(argv[2]));
            recognizer.setPhrases(phrases);
            recognizer.setMode(Recognizer::Mode::Grammar);
            std::map<QString, Count> counts[2]; // espeak-ng, flite
            unsigned seed = 1;
            for (const Case& c : cases)
                for (int w = 0; w < 4; ++w) {
                    testaudio::Samples audio = testaudio::silence(0.4);
                    if (pauses[w] < 0) {
                        testaudio::append(audio, said[c.whole].audio);
                    } else {
                        testaudio::append(audio, trimmed(said[c.first].audio));
                        testaudio::append(audio, testaudio::silence(pauses[w] / 1000.0));
                        testaudio::append(audio, trimmed(said[c.second].audio));
                    }
                    testaudio::append(audio, testaudio::silence(0.8));
                    testaudio::addNoiseFloor(audio, 20, seed++);
                    const std::vector<Recognizer::Result> results = recognizer.process(audio.data(), audio.size());
                    Count& count = counts[said[c.whole].voice.name.startsWith("flite:")][ways[w]];
                    ++count.n;
                    count.split += results.size() > 1;
                    for (const Recognizer::Result& r : results)
                        if (r.phrase == c.phrase && r.confidence == speech::Confidence::High) {
                            ++count.accepted;
                            break;
                        }
                    if (std::getenv("VORLIX_BENCH_VERBOSE"))
                        for (const Recognizer::Result& r : results)
                            std::printf("  %-14s %-20s %-24s -> %-24s %2d\n", ways[w],
                                        qPrintable(said[c.whole].voice.name), qPrintable(phrases[c.phrase]),
                                        qPrintable(r.words), int(r.confidence));
                }
            std::printf("%s (%lld phrases), %s:\n", qPrintable(name), qlonglong(phrases.size()),
                        waits ? "waiting for the rest of a phrase" : "no wait");
            for (int flite : {0, 1})
                for (const char* way : ways) {
                    const Count& c = counts[flite][way];
                    if (c.n)
                        std::printf("  %-9s %-20s accepted %3d/%3d = %5.1f%%, heard as two utterances %3d\n",
                                    flite ? "flite" : "espeak-ng", way, c.accepted, c.n, 100.0 * c.accepted / c.n,
                                    c.split);
                }
        }
    }
    return 0;
}
