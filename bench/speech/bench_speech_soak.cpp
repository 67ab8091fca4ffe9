// Noise and music against short commands: a long stream of mixed sounds (white, pink and brown
// noise, music-like note sequences, chords, sweeps, a few seconds of unrelated speech, silence) with
// abrupt and faded changes from one to the next, fed straight into the recogniser against phrase
// lists with one-word phrases. Prints firings (a phrase at high confidence) per hour, each with the
// sound it came in and the one before.
//   bench_speech_soak [minutes] [seed]     (default 3 minutes; the stream is the same for a seed, and a
//   shorter one is the start of a longer one)
// VORLIX_SOAK_RAW=file writes the stream as raw 16-bit 16 kHz mono, to look at the sound of a firing.
#include "corpus.h"
#include "speech/recognizer.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

using speech::Recognizer;

namespace {

constexpr int Rate = Recognizer::SampleRate;
constexpr double Pi = 3.14159265358979;

struct Piece {
    QString kind;
    std::vector<float> audio; // -1..1
};

double noteHz(int semitonesFromA4) {
    return 440.0 * std::pow(2.0, semitonesFromA4 / 12.0);
}

// A tone with a few harmonics and a plucked or bowed envelope, added into `out` at `at`.
void addNote(std::vector<float>& out, std::size_t at, double hz, double seconds, double gain, bool plucked,
             std::mt19937& rng) {
    const int harmonics = 1 + int(rng() % 6);
    const std::size_t n = std::size_t(seconds * Rate);
    for (std::size_t i = 0; i < n && at + i < out.size(); ++i) {
        const double t = double(i) / Rate;
        const double env =
            plucked ? std::exp(-3.0 * t) * std::min(1.0, t / 0.005) : std::min({1.0, t / 0.08, (seconds - t) / 0.1});
        double v = 0;
        for (int h = 1; h <= harmonics; ++h)
            v += std::sin(2 * Pi * hz * h * t) / h;
        out[at + i] += float(gain * env * v * 0.5);
    }
}

Piece make(int kind, double seconds, std::mt19937& rng, const std::vector<testaudio::Samples>& speech) {
    std::uniform_real_distribution<double> u(0, 1);
    std::normal_distribution<double> g(0, 1);
    const std::size_t n = std::size_t(seconds * Rate);
    Piece p;
    p.audio.assign(n, 0);
    switch (kind) {
    case 0: { // white, pink (Paul Kellet's filter) or brown noise, steady or swelling
        const int colour = int(rng() % 3);
        p.kind = QStringList{"white noise", "pink noise", "brown noise"}[colour];
        double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0, brown = 0;
        const double swell = u(rng) < 0.3 ? 0.2 + u(rng) : 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double w = g(rng);
            double v = w * 0.3;
            if (colour == 1) {
                b0 = 0.99886 * b0 + w * 0.0555179;
                b1 = 0.99332 * b1 + w * 0.0750759;
                b2 = 0.96900 * b2 + w * 0.1538520;
                b3 = 0.86650 * b3 + w * 0.3104856;
                b4 = 0.55000 * b4 + w * 0.5329522;
                b5 = -0.7616 * b5 - w * 0.0168980;
                v = (b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362) * 0.11;
                b6 = w * 0.115926;
            } else if (colour == 2) {
                brown = 0.998 * brown + w * 0.02;
                v = brown * 1.5;
            }
            if (swell > 0) v *= 0.5 + 0.5 * std::sin(2 * Pi * swell * double(i) / Rate);
            p.audio[i] = float(v);
        }
        break;
    }
    case 1: { // a melody over a bass line, notes of 0.15-0.6 s
        p.kind = "music";
        const bool plucked = u(rng) < 0.5;
        for (std::size_t at = 0; at < n;) {
            const double len = 0.15 + 0.45 * u(rng);
            addNote(p.audio, at, noteHz(int(rng() % 24) - 12), len * 1.3, 0.5, plucked, rng);
            if (u(rng) < 0.4) addNote(p.audio, at, noteHz(int(rng() % 12) - 30), len * 2, 0.4, plucked, rng);
            at += std::size_t(len * Rate);
        }
        break;
    }
    case 2: { // chords of three or four notes, changing every 0.4-2 s
        p.kind = "chords";
        const bool plucked = u(rng) < 0.5;
        for (std::size_t at = 0; at < n;) {
            const double len = 0.4 + 1.6 * u(rng);
            const int root = int(rng() % 24) - 24;
            const int shape[][4] = {{0, 4, 7, 12}, {0, 3, 7, 10}, {0, 4, 7, 11}, {0, 5, 7, 12}};
            const int* s = shape[rng() % 4];
            for (int k = 0; k < 3 + int(rng() % 2); ++k)
                addNote(p.audio, at, noteHz(root + s[k]), len, 0.3, plucked, rng);
            at += std::size_t(len * Rate);
        }
        break;
    }
    case 3: { // sine sweeps up or down, linear or exponential
        p.kind = "sweep";
        double phase = 0;
        const double from = 80 + 400 * u(rng), to = 500 + 4000 * u(rng);
        const bool up = u(rng) < 0.5, expo = u(rng) < 0.5;
        const double period = 1 + 3 * u(rng);
        for (std::size_t i = 0; i < n; ++i) {
            double x = std::fmod(double(i) / Rate, period) / period;
            if (!up) x = 1 - x;
            const double hz = expo ? from * std::pow(to / from, x) : from + (to - from) * x;
            phase += 2 * Pi * hz / Rate;
            p.audio[i] = float(0.4 * std::sin(phase));
        }
        break;
    }
    case 4: { // unrelated speech
        p.kind = "speech";
        std::size_t at = 0;
        while (at < n) {
            const testaudio::Samples& s = speech[rng() % speech.size()];
            for (std::size_t i = 0; i < s.size() && at + i < n; ++i)
                p.audio[at + i] = float(s[i] / 32768.0);
            at += s.size() + std::size_t((0.3 + u(rng)) * Rate);
        }
        break;
    }
    default:
        p.kind = "silence";
        break;
    }
    return p;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!testaudio::toolsAvailable() || !Recognizer().isAvailable()) {
        std::printf("bench_speech_soak: espeak-ng, sox or the recognition model missing, nothing measured\n");
        return 0;
    }
    const double minutes = argc > 1 ? std::atof(argv[1]) : 3;
    const unsigned seed = argc > 2 ? unsigned(std::atoi(argv[2])) : 1;
    // Sentences without the commands' words, by a few voices.
    std::vector<corpus::Utterance> said;
    const QStringList sentences = {"the quick brown fox jumps over the lazy dog",
                                   "what time is it",
                                   "can you hear me now",
                                   "it is raining again today",
                                   "please pass the salt",
                                   "where did I leave my keys",
                                   "the meeting starts at noon",
                                   "this coffee is too hot",
                                   "thank you very much",
                                   "he was reading a book"};
    const corpus::Voice voices[] = {{"en-us", 170, 50, true},
                                    {"en-gb-x-rp+f3", 150, 65, true},
                                    {"flite:slt", 100, 0, true},
                                    {"flite:kal16", 110, 0, true}};
    for (int i = 0; i < sentences.size(); ++i)
        said.push_back({sentences[i], voices[i % 4], -1, "sentence", {}});
    corpus::synthesiseAll(said);
    std::vector<testaudio::Samples> speech;
    for (const corpus::Utterance& u : said)
        speech.push_back(u.audio);

    // The stream: pieces of 1-12 s at levels 35 dB apart, joined abruptly, faded or with silence.
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    const std::size_t total = std::size_t(minutes * 60 * Rate);
    std::vector<float> stream;
    struct Mark {
        std::size_t at;
        QString kind, before;
    };
    std::vector<Mark> marks;
    QString before = "start";
    while (stream.size() < total) {
        const int kind = int(rng() % 12);
        Piece p = make(kind < 3    ? 0
                       : kind < 5  ? 1
                       : kind < 7  ? 2
                       : kind < 9  ? 3
                       : kind < 10 ? 4
                                   : 5,
                       1 + 11 * u(rng), rng, speech);
        const double gain = std::pow(10.0, -(35 * u(rng)) / 20);
        const bool fade = u(rng) < 0.3;
        const std::size_t fadeLen = std::size_t(0.3 * Rate);
        for (std::size_t i = 0; i < p.audio.size(); ++i) {
            double v = p.audio[i] * gain;
            if (fade) v *= std::min({1.0, double(i) / fadeLen, double(p.audio.size() - i) / fadeLen});
            p.audio[i] = float(v);
        }
        marks.push_back({stream.size(), p.kind, before});
        before = p.kind;
        stream.insert(stream.end(), p.audio.begin(), p.audio.end());
    }
    testaudio::Samples audio(stream.size());
    for (std::size_t i = 0; i < stream.size(); ++i)
        audio[i] = int16_t(std::clamp(std::lround(stream[i] * 20000), -32768L, 32767L));
    testaudio::addNoiseFloor(audio, 20, seed);
    if (const char* raw = std::getenv("VORLIX_SOAK_RAW")) {
        FILE* f = std::fopen(raw, "wb");
        const bool written = f && std::fwrite(audio.data(), 2, audio.size(), f) == audio.size();
        if ((f && std::fclose(f) != 0) || !written)
            std::fprintf(stderr, "bench_speech_soak: could not write %s\n", raw);
    }
    const double hours = audio.size() / double(Rate) / 3600;
    // Unrelated speech is there for its changes to and from noise and music; a word in it that
    // sounds like a one-word command is told apart as speech, and counted apart.
    double speechHours = 0;
    for (std::size_t k = 0; k < marks.size(); ++k)
        if (marks[k].kind == "speech")
            speechHours += double((k + 1 < marks.size() ? marks[k + 1].at : audio.size()) - marks[k].at) / Rate / 3600;
    std::printf("soak: %.1f minutes of %zu pieces (seed %u)\n", hours * 60, marks.size(), seed);

    const std::vector<std::pair<QString, QStringList>> lists = {
        {"one-word commands", {"stop", "go", "next", "up"}},
        {"six commands", {"stop", "go", "next", "up", "open mail", "volume down"}},
        {"the bench's phrases and four one-word ones", corpus::phrases() + QStringList{"stop", "go", "next", "up"}}};
    for (const auto& [name, phrases] : lists) {
        Recognizer recognizer;
        recognizer.setPhrases(phrases);
        recognizer.setMode(Recognizer::Mode::Grammar);
        int fired = 0, normal = 0, utterances = 0, turnedAway = 0;
        std::map<QString, int> byKind;
        // In pieces as the microphone delivers them, to know where each result came.
        constexpr std::size_t Step = 320;
        for (std::size_t at = 0; at < audio.size(); at += Step) {
            const std::size_t n = std::min(Step, audio.size() - at);
            for (const Recognizer::Result& r : recognizer.process(audio.data() + at, n)) {
                ++utterances;
                if (r.phrase < 0) continue;
                normal += r.confidence == speech::Confidence::Normal;
                turnedAway += r.confidence == speech::Confidence::Low &&
                              (r.standsOut < speech::MinStandsOut || r.voicedFrames < speech::MinVoicedFrames) &&
                              speech::classify(r) == speech::Confidence::High;
                if (r.confidence != speech::Confidence::High) continue;
                ++fired;
                const double endSeconds = double(at + n) / Rate;
                const double startSeconds = endSeconds - r.frames / 100.0;
                auto m = std::upper_bound(marks.begin(), marks.end(), std::size_t(startSeconds * Rate),
                                          [](std::size_t a, const Mark& b) { return a < b.at; });
                const Mark& in = *(m == marks.begin() ? m : m - 1);
                byKind[in.kind]++;
                std::printf("  %s: \"%s\" at %.1f s, %.1f s into %s after %s (score %.1f, worst word %.1f, worst "
                            "filler %.0f, against words %.1f, stands out %.1f dB, voiced %d, harmonics %.1f)\n",
                            qPrintable(name), qPrintable(phrases[r.phrase]), startSeconds,
                            startSeconds - in.at / double(Rate), qPrintable(in.kind), qPrintable(in.before), r.score,
                            r.worstWord, r.worstFiller, r.againstWords, r.standsOut, r.voicedFrames, r.harmonics);
            }
        }
        const int inSpeech = byKind["speech"];
        std::printf("%s: %d firings in noise and music = %.1f per hour of noise and music, %d in unrelated speech "
                    "= %.1f per hour of speech (%d utterances; %d phrases at normal confidence, not acted on; %d that "
                    "would have fired but did not stand out from the sound around them or had no pitch)\n",
                    qPrintable(name), fired - inSpeech, (fired - inSpeech) / std::max(1e-9, hours - speechHours),
                    inSpeech, inSpeech / std::max(1e-9, speechHours), utterances, normal, turnedAway);
        std::fflush(stdout);
    }
    return 0;
}
