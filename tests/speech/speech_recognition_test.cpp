// The recogniser fed from synthesised speech files: phrases of several voices and speeds, bad
// phrases beside good ones, out-of-grammar speech and long noise.
#include "speech/recognizer.h"
#include "speech/testaudio.h"

#include <QFile>

#include <cmath>

#include <gtest/gtest.h>

using speech::Confidence;
using speech::Recognizer;

namespace {

const QStringList Phrases = {"computer",
                             "",
                             "Vorlix",
                             "?!",
                             "open mail",
                             "open 7zip",
                             "open the browser",
                             "close window",
                             "take a screenshot",
                             QString("zip ").repeated(40)};

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
        testaudio::append(audio, sound);
        testaudio::append(audio, testaudio::silence(1.0));
        testaudio::addNoiseFloor(audio);
        return recognizer.process(audio.data(), audio.size());
    }

    Recognizer recognizer;
};

long residentKb() {
    QFile f("/proc/self/statm");
    f.open(QIODevice::ReadOnly);
    return f.readAll().split(' ').value(1).toLong() * 4;
}

} // namespace

TEST_F(RecognizerTest, PhrasesOfSeveralVoicesAndSpeedsAreRecognised) {
    struct Voice {
        const char* name;
        int wpm;
    };
    const Voice voices[] = {{"en-us", 175}, {"en+f3", 200}, {"en-gb-x-rp", 140}};
    const int spoken[] = {0, 2, 4, 5, 6, 7, 8};
    int heard = 0, high = 0;
    for (const Voice& v : voices) {
        for (int p : spoken) {
            const auto results = hear(testaudio::speech(Phrases[p], v.name, v.wpm));
            ASSERT_EQ(results.size(), 1u) << v.name << ": " << qPrintable(Phrases[p]);
            EXPECT_EQ(results[0].phrase, p)
                << v.name << ": " << qPrintable(Phrases[p]) << " heard as " << qPrintable(results[0].words);
            heard += results[0].phrase == p;
            high += results[0].phrase == p && results[0].confidence == Confidence::High;
        }
    }
    // Synthetic voices are harder than people; most must still be sure enough to act on.
    EXPECT_GE(high, heard * 2 / 3) << high << " of " << heard << " at high confidence";
}

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

TEST_F(RecognizerTest, OtherSpeechAndNoiseAreNeverHighConfidence) {
    const QStringList others = {"the quick brown fox jumps over the lazy dog", "what time is it", "open the door",
                                "take a picture", "please pass the salt"};
    for (const QString& text : others)
        for (const char* voice : {"en-us", "en+m3"})
            for (const Recognizer::Result& r : hear(testaudio::speech(text, voice)))
                EXPECT_NE(r.confidence, Confidence::High) << voice << ": " << qPrintable(text) << " taken for "
                                                          << qPrintable(r.words) << " score " << r.score;
    for (const char* noise : {"whitenoise", "pinknoise", "brownnoise", "sine 300-900"})
        for (const Recognizer::Result& r : hear(testaudio::noise(noise, 2, 0.5)))
            EXPECT_NE(r.confidence, Confidence::High) << noise << " taken for " << qPrintable(r.words);
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
                EXPECT_NE(r.confidence, Confidence::High)
                    << "noise taken for " << qPrintable(r.words) << " " << r.score << " " << r.wordScore << " "
                    << r.worstWord << " " << r.worstFiller;
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

TEST_F(RecognizerTest, NothingIsHeardWhileOff) {
    recognizer.setMode(Recognizer::Mode::Off);
    EXPECT_TRUE(hear(testaudio::speech("open mail")).empty());
}

TEST_F(RecognizerTest, DictationWritesDownFreeSpeech) {
    recognizer.setMode(Recognizer::Mode::Dictation);
    const auto results = hear(testaudio::speech("what time is it"));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].phrase, -1);
    EXPECT_TRUE(results[0].words.startsWith("what")) << qPrintable(results[0].words);
    // Back to the phrases.
    recognizer.setMode(Recognizer::Mode::Grammar);
    const auto phrase = hear(testaudio::speech("close window"));
    ASSERT_EQ(phrase.size(), 1u);
    EXPECT_EQ(phrase[0].phrase, 7);
}
