// The recogniser fed from synthesised speech: phrases, near misses, bad phrases, unrelated speech, noise.
#include "speech/recognizer.h"
#include "speech/testaudio.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

using speech::Confidence;
using speech::Recognizer;

namespace {

// Bad phrases among good ones must not shift the places of the good ones.
const QStringList Phrases =
    QStringLiteral("computer||Vorlix|?!|open mail|open 7zip|open the browser|close window|take a screenshot").split('|')
    << QString("zip ").repeated(40);

// A note with five harmonics, struck (5 ms attack) and dying away at `decay` per second, or steady.
testaudio::Samples note(double hz, double seconds, double amplitude, double decay = 0) {
    testaudio::Samples s;
    for (int i = 0; i < int(seconds * 16000); ++i) {
        const double t = i / 16000.0;
        double v = 0;
        for (int h = 1; h <= 5; ++h)
            v += std::sin(2 * std::numbers::pi * hz * h * t) / h;
        s.push_back(int16_t(amplitude * std::min(1.0, t / 0.005) * std::exp(-decay * t) * v));
    }
    return s;
}

// Notes at `root` times each of `intervals`, struck together and dying away at 3 per second.
testaudio::Samples chord(double root, std::initializer_list<double> intervals, double seconds, double amplitude) {
    std::vector<int> sum(std::size_t(seconds * 16000), 0);
    for (const double interval : intervals) {
        const testaudio::Samples one = note(root * interval, seconds, amplitude, 3);
        std::transform(one.begin(), one.end(), sum.begin(), sum.begin(), std::plus<>());
    }
    testaudio::Samples s(sum.size());
    std::transform(sum.begin(), sum.end(), s.begin(), [](int v) { return int16_t(std::clamp(v, -32000, 32000)); });
    return s;
}

class RecognizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testaudio::toolsAvailable()) GTEST_SKIP() << "espeak-ng or sox is not installed";
        if (!recognizer.isAvailable()) GTEST_SKIP() << "the PocketSphinx en-us model is not installed";
        recognizer.setPhrases(Phrases);
        recognizer.setMode(Recognizer::Mode::Grammar);
    }

    std::vector<Recognizer::Result> hear(const testaudio::Samples& sound) {
        testaudio::Samples audio = testaudio::silence(0.5);
        audio.insert(audio.end(), sound.begin(), sound.end());
        audio.resize(audio.size() + 16000); // a second of silence ends the utterance
        testaudio::addNoiseFloor(audio);
        return recognizer.process(audio.data(), audio.size());
    }

    Recognizer recognizer;
};

long residentKb() {
    QFile f("/proc/self/statm");
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(1).toLong() * 4 : 0;
}

} // namespace

TEST_F(RecognizerTest, PhrasesThatBeginOthersAndLongListsAreHeardAsThemselves) {
    // "scroll" ends inside the grammar's tree of words; "open item 66" ends on a state of its own, as
    // more than a few dozen phrases go on from "open item".
    QStringList phrases = {"scroll", "scroll down"};
    for (int i = 0; i < 100; ++i)
        phrases << QStringLiteral("open item %1").arg(i);
    recognizer.setPhrases(phrases);
    for (int p : {0, 1, 2, 68}) {
        const auto results = hear(testaudio::speech(phrases[p]));
        ASSERT_EQ(results.size(), 1u) << qPrintable(phrases[p]);
        EXPECT_EQ(results[0].phrase, p) << qPrintable(phrases[p]) << " heard as " << qPrintable(results[0].words);
        EXPECT_TRUE(std::isfinite(results[0].score) && std::isfinite(results[0].worstWord)) << results[0].score;
    }
}

// Phrases said as written by several voices, and speech one word away from a phrase, unrelated
// speech and noise, none of which may be acted on.
TEST_F(RecognizerTest, OnlyWhatWasSaidIsAcceptedAtHighConfidence) {
    const struct {
        const char *kind, *said, *voice; // "noise:" and a sox noise for sounds
        int phrase;                      // expected at high confidence, -1 for none at all
    } cases[] = {
        {"as written", "computer", "en-us", 0},
        {"as written", "Vorlix", "en-us", 2},
        {"as written", "open mail", "en-us", 4},
        {"as written", "open 7zip", "en-us", 5},
        {"as written", "open the browser", "en+f3", 6},
        {"as written", "close window", "en-gb-x-rp", 7},
        {"as written", "take a screenshot", "en-us", 8},
        {"similar word", "open the blower", "en-us", -1},
        {"similar word", "lose window", "en-us", -1},
        {"plain word", "take a picture", "en-us", -1},
        {"plain word", "open the door", "en+m3", -1},
        {"word added", "close the window now", "en-us", -1},
        {"word added", "please open mail", "en+m3", -1},
        {"word dropped", "open browser", "en-us", -1},
        {"word dropped", "take a", "en-us", -1},
        {"similar word", "close winter", "en-us", -1},
        {"similar word", "open the brass", "en-us", -1},
        {"unrelated", "what time is it", "en+m3", -1},
        {"unrelated", "the quick brown fox jumps over the lazy dog", "en-us", -1},
        {"noise", "noise:pinknoise", "", -1},
        {"noise", "noise:sine 300-900", "", -1},
    };
    for (const auto& c : cases) {
        const QString said = QString::fromLatin1(c.said);
        const auto results =
            hear(said.startsWith("noise:") ? testaudio::noise(said.mid(6), 2, 0.5) : testaudio::speech(said, c.voice));
        int high = 0;
        QString heard;
        for (const Recognizer::Result& r : results) {
            high += r.confidence == Confidence::High;
            heard += QString::asprintf(" [%s: confidence %d, worst word %.0f, against words %.0f]", qPrintable(r.words),
                                       int(r.confidence), r.worstWord, r.againstWords);
            EXPECT_TRUE(r.confidence != Confidence::High || r.phrase == c.phrase) << c.said << qPrintable(heard);
        }
        if (c.phrase >= 0) {
            EXPECT_EQ(high, 1) << c.voice << ": " << c.said << qPrintable(heard);
        }
    }
}

// Every word has a vowel, and so a pitch rich in harmonics; noise has no pitch, a pure tone one
// harmonic, however it stands out from the quiet around it.
TEST_F(RecognizerTest, SpeechHasAPitchNoiseHasNone) {
    const struct {
        const char* said; // "noise:" and a sox noise for sounds
        bool pitched;
    } cases[] = {
        {"open mail", true},        {"computer", true},          {"noise:whitenoise", false},
        {"noise:pinknoise", false}, {"noise:brownnoise", false}, {"noise:sine 150-900", false},
    };
    int noiseHeard = 0; // the detector must take some of the noise for speech, or nothing is shown
    for (const auto& c : cases) {
        const QString said = QString::fromLatin1(c.said);
        const auto results =
            hear(said.startsWith("noise:") ? testaudio::noise(said.mid(6), 1.0, 0.5) : testaudio::speech(said));
        if (!c.pitched) noiseHeard += int(results.size());
        for (const Recognizer::Result& r : results) {
            EXPECT_EQ(r.voicedFrames >= speech::MinVoicedFrames && r.harmonics >= speech::MinHarmonics, c.pitched)
                << c.said << ": " << r.voicedFrames << " voiced frames, " << r.harmonics << " harmonics, heard as "
                << qPrintable(r.words);
            if (!c.pitched) {
                EXPECT_NE(r.confidence, Confidence::High) << c.said << " taken for " << qPrintable(r.words);
            }
        }
        if (!said.startsWith("noise:")) {
            EXPECT_FALSE(results.empty()) << c.said;
        }
    }
    EXPECT_GT(noiseHeard, 0);

    // Noise that starts as a struck note dies away: the note is in the noise's lead-in, not in it.
    testaudio::Samples noteThenNoise = note(392, 0.7, 1500, 3);
    std::mt19937 rng(1);
    std::normal_distribution<double> white(0, 1);
    double brown = 0; // a rumble that swells up out of the quiet and back
    for (int i = 0; i < 11200; ++i) {
        brown = 0.998 * brown + 0.02 * white(rng);
        noteThenNoise.push_back(
            int16_t(std::clamp(30000 * brown * std::sin(std::numbers::pi * i / 11200), -32000.0, 32000.0)));
    }
    recognizer.setPhrases({"stop", "go", "next", "up"}); // short words fit such a sound best
    const auto results = hear(noteThenNoise);
    ASSERT_FALSE(results.empty());
    const Recognizer::Result& r = results.back();
    EXPECT_LT(r.voicedFrames, speech::MinVoicedFrames) << "heard as " << qPrintable(r.words);
    EXPECT_NE(r.confidence, Confidence::High) << "taken for " << qPrintable(r.words);
}

// Music goes on from note to note, and the detector may cut it into utterances that start at once,
// with no quiet lead-in of their own: such a note is measured against the music heard before it.
TEST(StandsOut, AnUtteranceIsMeasuredAgainstWhatCameBeforeItsLeadIn) {
    auto steady = [](double seconds) { return note(330, seconds, 6000); };
    const testaudio::Samples quiet = testaudio::silence(0.5);
    testaudio::Samples word = quiet; // a lead-in of its own, the sound, the silence that ended it
    testaudio::append(word, steady(0.4));
    testaudio::append(word, testaudio::silence(0.3));
    EXPECT_GT(speech::standsOut({}, word, quiet.size()), speech::MinStandsOut);
    EXPECT_GT(speech::standsOut(steady(1.0), word, quiet.size()), speech::MinStandsOut);

    testaudio::Samples straightOn = steady(0.4); // heard at once after the utterance before
    testaudio::append(straightOn, testaudio::silence(0.3));
    EXPECT_LT(speech::standsOut(steady(1.0), straightOn, 0), speech::MinStandsOut) << "music that went on";
    EXPECT_GT(speech::standsOut(quiet, straightOn, 0), speech::MinStandsOut) << "a word said after a pause";
    testaudio::Samples faded = steady(1.0); // only the last half second counts
    testaudio::append(faded, quiet);
    EXPECT_GT(speech::standsOut(faded, straightOn, 0), speech::MinStandsOut);
}

// Notes of music, one after another, each struck and dying away.
testaudio::Samples music(double seconds) {
    testaudio::Samples s;
    const int semitones[] = {0, 7, 3, 10, 5, 12, 2, 8, -2, 4, 9, 1, 6, 11, -4, 7};
    for (int k = 0; s.size() < std::size_t(seconds * 16000); ++k) {
        testaudio::append(s, note(220 * std::pow(2.0, semitones[k % 16] / 12.0), 0.5, 6000, 5));
    }
    return s;
}

// The detector cuts music into utterances; none is a voice, and what the recogniser learns of the
// microphone from each utterance must not learn them, or the commands after the music go unheard.
TEST_F(RecognizerTest, CommandsAfterMusicAreHeard) {
    const std::pair<const char*, int> commands[] = {{"open mail", 4}, {"close window", 7}};
    for (const auto& [said, phrase] : commands) // the recogniser has learnt the voice and the microphone
        ASSERT_FALSE(hear(testaudio::speech(said)).empty());
    const auto notes = hear(music(8));
    EXPECT_GT(notes.size(), 2u) << "the detector did not cut the music into utterances";
    for (const auto& [said, phrase] : commands) {
        const auto results = hear(testaudio::speech(said));
        ASSERT_FALSE(results.empty()) << said;
        EXPECT_EQ(results.back().phrase, phrase) << said << " heard as " << qPrintable(results.back().words);
        EXPECT_EQ(results.back().confidence, Confidence::High) << said;
    }
}

// A fan runs before, through and after the command. Soft word ends ("n", "l") in the noise sound
// like the noise itself to the detector, which ends the utterance before the word has died away:
// the command must still be measured against the quiet after it.
TEST_F(RecognizerTest, CommandsInRoomNoiseAreHeardToTheirEnd) {
    recognizer.setPhrases({"volume down", "save the file", "open mail", "close window"});
    const struct {
        const char *said, *voice;
        int wpm, pitch, phrase;
    } cases[] = {{"volume down", "en-us+michel", 135, 67, 0}, {"save the file", "en+Hugo", 135, 42, 1}};
    for (const auto& c : cases) {
        const testaudio::Samples speech = testaudio::speech(c.said, c.voice, c.wpm, c.pitch);
        testaudio::Samples audio = testaudio::silence(3);
        testaudio::append(audio, speech);
        testaudio::append(audio, testaudio::silence(1.2));
        testaudio::addRoomNoise(audio, testaudio::rms(speech));
        testaudio::addNoiseFloor(audio);
        int high = 0;
        QString heard;
        for (const Recognizer::Result& r : recognizer.process(audio.data(), audio.size())) {
            high += r.confidence == Confidence::High && r.phrase == c.phrase;
            heard += QString::asprintf(" [%s: confidence %d, standing out %.1f dB]", qPrintable(r.words),
                                       int(r.confidence), r.standsOut);
        }
        EXPECT_EQ(high, 1) << c.voice << ": " << c.said << qPrintable(heard);
    }
}

// Struck chords, one after another, each fading from the moment it is struck: the detector ends
// utterances while a chord still fades, and none of them stands out as a command would, whether the
// next chord cuts it short or it rings on under the next one, at levels down to the quiet.
TEST_F(RecognizerTest, FadingChordsFireNothing) {
    recognizer.setPhrases({"stop", "go", "next", "up"});
    std::mt19937 rng(3);
    testaudio::Samples cut;
    for (int k = 0; k < 12; ++k) {
        const double seconds = 0.6 + 0.1 * double(rng() % 10), root = 110 * std::pow(2.0, double(rng() % 12) / 12);
        testaudio::append(cut, chord(root, {1, 1.26, 1.5}, seconds, 3000));
    }
    rng.seed(6);
    std::vector<double> mix;
    for (std::size_t k = 0, at = 0; k < 60; ++k, at += std::size_t((0.4 + 0.1 * double(rng() % 16)) * 16000)) {
        const double root = 55 * std::pow(2.0, double(rng() % 24) / 12), amplitude = 50 + double(rng() % 3000);
        mix.resize(at + 3 * 16000);
        const testaudio::Samples one = chord(root, {1, 1.26, 1.5, 2}, 3, amplitude);
        std::transform(one.begin(), one.end(), mix.begin() + std::ptrdiff_t(at), mix.begin() + std::ptrdiff_t(at),
                       std::plus<>());
    }
    testaudio::Samples ringing(mix.size());
    std::transform(mix.begin(), mix.end(), ringing.begin(),
                   [](double v) { return int16_t(std::clamp(v, -32000.0, 32000.0)); });
    // A chord fading, then a louder one stopped dead by silence: it drops as a word ends, but below
    // the quiet it was heard against.
    rng.seed(1);
    testaudio::Samples stopped;
    for (int k = 0; k < 12; ++k) {
        for (int c = 0; c < 2; ++c) {
            const double root = 55 * std::pow(2.0, double(rng() % 24) / 12), amplitude = 300 + double(rng() % 3000);
            const double seconds = c == 0 ? 1.5 : 0.5 + 0.1 * double(rng() % 8);
            testaudio::append(stopped, chord(root, {1, 1.26, 1.5, 2}, seconds, amplitude));
        }
        testaudio::append(stopped, testaudio::silence(1));
    }
    for (const testaudio::Samples* chords : {&ringing, &stopped, &cut}) {
        int utterances = 0;
        for (const Recognizer::Result& r : hear(*chords)) {
            ++utterances;
            EXPECT_NE(r.confidence, Confidence::High)
                << "taken for " << qPrintable(r.words) << ", standing out " << r.standsOut << " dB";
        }
        EXPECT_GT(utterances, 2) << "the detector did not cut the chords into utterances";
    }
}

TEST_F(RecognizerTest, LongNoiseGivesNoCommandAndMemoryStaysFlat) {
    // Eighty seconds of loud, rhythmic noise and clipping, fed as a microphone would.
    testaudio::Samples loud = testaudio::noise("pinknoise tremolo 4 90", 20, 1.0);
    for (int16_t& s : loud)
        s = int16_t(std::clamp(int(s) * 4, -32768, 32767));
    long afterFirst = 0;
    for (int round = 0; round < 4; ++round) {
        for (std::size_t at = 0; at < loud.size(); at += 320)
            for (const Recognizer::Result& r :
                 recognizer.process(loud.data() + at, std::min<std::size_t>(320, loud.size() - at)))
                EXPECT_NE(r.confidence, Confidence::High) << "noise taken for " << qPrintable(r.words);
        if (round == 0) afterFirst = residentKb();
    }
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer holds freed memory back in quarantine, so resident size says nothing there.
    EXPECT_LT(residentKb() - afterFirst, 4096) << "memory grew while hearing noise";
#endif
    // Still recognising afterwards.
    const auto results = hear(testaudio::speech("open mail"));
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back().phrase, 4);
}

TEST_F(RecognizerTest, DictationWritesDownFreeSpeechAndNothingIsHeardWhileOff) {
    recognizer.setMode(Recognizer::Mode::Dictation);
    const auto results = hear(testaudio::speech("what time is it"));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].phrase == -1 && results[0].words.startsWith("what")) << qPrintable(results[0].words);
    recognizer.setMode(Recognizer::Mode::Off);
    EXPECT_TRUE(hear(testaudio::speech("close window")).empty());
    recognizer.setMode(Recognizer::Mode::Grammar);
    const auto phrase = hear(testaudio::speech("close window"));
    ASSERT_EQ(phrase.size(), 1u);
    EXPECT_EQ(phrase[0].phrase, 7);
}
