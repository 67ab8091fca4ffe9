// Phrases to grammar, pronunciations of unknown words, and the confidence classes; no audio.
#include "speech/grammar.h"
#include "speech/lexicon.h"
#include "speech/recognizer.h"

#include <QSet>

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace speech;

namespace {

const QSet<QString> Known = {"open", "mail", "the", "browser", "close", "window", "zip", "don't"};

Grammar build(const QStringList& phrases) {
    return buildGrammar(
        phrases, [](const QString& w) { return Known.contains(w); },
        [](const QString& w) { return w == "xyzzy" ? QString() : QStringLiteral("AH B"); });
}

// Every word sequence the graph accepts, each with the number of sound-alikes on its path.
QStringList spell(const WordGraph& graph) {
    QStringList spelt;
    std::function<void(int, QStringList, int)> walk = [&](int state, QStringList words, int alikes) {
        if (state == WordGraph::Final) spelt << words.join(' ') + QStringLiteral(" %1").arg(alikes);
        for (const WordGraph::Arc& arc : graph.arcs)
            if (arc.from == state && arc.to < graph.states && (arc.word >= 0 || arc.to == WordGraph::Final))
                walk(arc.to, arc.word < 0 ? words : words + QStringList{graph.words.value(arc.word)},
                     alikes + (arc.cost > 0));
    };
    walk(WordGraph::Start, {}, 0);
    spelt.sort();
    return spelt;
}

} // namespace

TEST(PhraseWords, LowerCasesAndSplitsAtPunctuation) {
    EXPECT_EQ(phraseWords("Open  the-Browser!"), QStringList({"open", "the", "browser"}));
    EXPECT_EQ(phraseWords("'don't'"), QStringList({"don't"}));
    EXPECT_EQ(phraseWords("open 7zip"), QStringList({"open", "7zip"}));
    EXPECT_EQ(phraseWords("Café Ärger"), QStringList({"café", "ärger"}));
    EXPECT_TRUE(phraseWords(" ?!., ").isEmpty());
}

TEST(Pronunciation, WordsTheDictionaryLacksArePronouncedByEspeakUnderAsciiNames) {
    for (const auto& [espeak, model] : {std::pair{"v_'o@_l_I_k_s", "V AO R L IH K S"},
                                        {"k_@_m_p_j_'u:_t#_3", "K AH M P Y UW T ER"},
                                        {"tS_'3:_tS dZ_'V_dZ", "CH ER CH JH AH JH"},
                                        {"||", ""}})
        EXPECT_EQ(espeakToModelPhones(espeak), model);
    EXPECT_EQ(Recognizer::pronounce("7zip"), "S EH V AH N Z IH P");
    EXPECT_FALSE(Recognizer::pronounce("Žluťoučký").isEmpty());
    EXPECT_EQ(dictionaryName("vorlix"), "vorlix");
    EXPECT_EQ(dictionaryName("7zip"), "x377a6970");
    EXPECT_EQ(dictionaryName("café"), "x636166c3a9");
}

TEST(Grammar, OneAlternativePerDistinctPhraseAndBadOnesLeftOutWithAReason) {
    const Grammar g = build({"open mail", "", "Open the browser", "?!", "OPEN MAIL", "xyzzy window",
                             QString("zip ").repeated(20), "open 7zip", "Vorlix", "vorlix mail"});
    EXPECT_EQ(g.alternatives,
              QStringList({"open mail", "open the browser", "open x377a6970", "vorlix", "vorlix mail"}));
    EXPECT_EQ(g.phraseOf.value("open mail", -1), 0); // the first of two alike answers for both
    EXPECT_EQ(g.phraseOf.value("vorlix", -1), 8);
    ASSERT_EQ(g.newWords.size(), 2); // "vorlix" only once
    EXPECT_EQ(g.newWords[0].name, "x377a6970");
    const QStringList why = {"empty", "no words", "no pronunciation for \"xyzzy\"", "more than"};
    ASSERT_EQ(g.leftOut.size(), why.size());
    for (int i = 0; i < why.size(); ++i)
        EXPECT_TRUE(g.leftOut[i].contains(why[i])) << qPrintable(g.leftOut[i]);
    EXPECT_TRUE(build({}).isEmpty());
}

TEST(WordGraph, SpellsEveryPhraseOnceAndNothingElse) {
    QStringList numbered;
    for (int i = 0; i < 200; ++i)
        numbered << QStringLiteral("open item %1").arg(i);
    for (const QStringList& alternatives :
         {QStringList{"open mail", "open the browser", "scroll down", "scroll", "close", "open the browser window"},
          numbered, QStringList{}}) {
        const WordGraph graph = wordGraph(alternatives);
        QStringList expected;
        for (const QString& a : alternatives)
            expected << a + " 0";
        expected.sort();
        EXPECT_EQ(spell(graph), expected);
        std::map<std::pair<int, int>, int> wordsBetween;
        QSet<QString> firstWords;
        int arcsFromStart = 0;
        for (const WordGraph::Arc& arc : graph.arcs) {
            arcsFromStart += arc.from == WordGraph::Start;
            EXPECT_LE(arc.word < 0 ? 0 : ++wordsBetween[std::pair(arc.from, arc.to)], WordGraph::MaxArcsPerEnd);
        }
        for (const QString& a : alternatives)
            firstWords.insert(a.section(' ', 0, 0));
        EXPECT_EQ(arcsFromStart, firstWords.size()); // phrases that begin alike share their start
    }
}

TEST(WordGraph, SoundAlikesStandBesideEachWordUpToTheBudget) {
    const QStringList phrases = {"open mail", "scroll", "scroll down"};
    const QHash<QString, QStringList> alikes = {{"open", {"often"}}, {"mail", {"meal"}}, {"scroll", {"school"}}};
    WordGraph graph = wordGraph(phrases);
    EXPECT_EQ(addSoundAlikes(graph, alikes, 5, 100), 3);
    EXPECT_EQ(spell(graph), QStringList({"often mail 1", "often meal 2", "open mail 0", "open meal 1", "school 1",
                                         "school down 1", "scroll 0", "scroll down 0"}));
    graph = wordGraph(phrases);
    EXPECT_EQ(addSoundAlikes(graph, alikes, 5, 0), 0);
    EXPECT_EQ(spell(graph).filter(" 0").size(), 3);
    EXPECT_EQ(spell(graph).size(), 3);
}

// The end of an utterance waits for the rest of a phrase only where the words heard so far may go on.
TEST(PhraseContinuations, WaitOnlyWhereAPhraseMayGoOn) {
    struct Case {
        QStringList phrases;
        QString heard;
        bool goesOn;
    };
    const Case cases[] = {
        {{"stop", "go", "next", "up"}, "stop", false},
        {{"stop", "go", "next", "up"}, "", false},
        {{"scroll", "scroll down", "scroll down fast"}, "scroll", true},
        {{"scroll", "scroll down", "scroll down fast"}, "scroll down", true},
        {{"scroll", "scroll down", "scroll down fast"}, "scroll down fast", false},
        {{"open mail", "open the browser"}, "open", true},
        {{"open mail", "open the browser"}, "open the", true},
        {{"open mail", "open the browser"}, "open mail", false},
        {{"open mail", "open the browser"}, "mail", false},          // leads nowhere
        {{"open mail", "open the browser"}, "open mail the", false}, // past the end of a phrase
        {{"open mail", "open the browser"}, "dictation words", false},
        {{"open mail", "scroll"}, "school", false}, // a sound-alike of a whole phrase
        {{"open mail", "scroll"}, "often", true},   // a sound-alike of the start of one
        {{"open mail", "scroll"}, "often meal", false},
        {{"go", "go back", "stop"}, "go", true},
        {{"go", "go back", "stop"}, "go back", false},
    };
    const QHash<QString, QStringList> alikes = {{"open", {"often"}}, {"mail", {"meal"}}, {"scroll", {"school"}}};
    for (const Case& c : cases) {
        WordGraph graph = wordGraph(c.phrases);
        addSoundAlikes(graph, alikes, 5, 100);
        EXPECT_EQ(PhraseContinuations(graph).mayGoOn(c.heard), c.goesOn)
            << qPrintable(c.phrases.join(',') + ": " + c.heard);
    }
    EXPECT_FALSE(PhraseContinuations().mayGoOn("open"));
}

TEST(Confidence, AllLimitsMustHoldForHigh) {
    Recognizer::Result r;
    r.score = NormalConfidenceScore;
    r.worstWord = HighConfidenceWorstWord;
    r.worstFiller = HighConfidenceWorstFiller;
    r.againstWords = HighConfidenceAgainstWords;
    EXPECT_EQ(classify(r), Confidence::High);
    using Score = float Recognizer::Result::*;
    for (Score limit :
         {&Recognizer::Result::worstWord, &Recognizer::Result::worstFiller, &Recognizer::Result::againstWords}) {
        Recognizer::Result below = r;
        below.*limit -= 1;
        EXPECT_EQ(classify(below), Confidence::Normal);
    }
    r.score = NormalConfidenceScore - 1;
    EXPECT_EQ(classify(r), Confidence::Low);
}
