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

} // namespace

TEST(PhraseWords, LowerCasesAndSplitsAtPunctuation) {
    EXPECT_EQ(phraseWords("Open  the-Browser!"), QStringList({"open", "the", "browser"}));
    EXPECT_EQ(phraseWords("'don't'"), QStringList({"don't"}));
    EXPECT_EQ(phraseWords("open 7zip"), QStringList({"open", "7zip"}));
    EXPECT_EQ(phraseWords("Café Ärger"), QStringList({"café", "ärger"}));
    EXPECT_TRUE(phraseWords(" ?!., ").isEmpty());
}

TEST(Pronunciation, EspeakMnemonicsBecomeModelPhones) {
    EXPECT_EQ(espeakToModelPhones("v_'o@_l_I_k_s"), "V AO R L IH K S");
    EXPECT_EQ(espeakToModelPhones("s_'E_v_@_n z_'I_p"), "S EH V AH N Z IH P");
    EXPECT_EQ(espeakToModelPhones("k_@_m_p_j_'u:_t#_3"), "K AH M P Y UW T ER");
    EXPECT_EQ(espeakToModelPhones("tS_'3:_tS dZ_'V_dZ"), "CH ER CH JH AH JH");
    EXPECT_EQ(espeakToModelPhones("||"), "");
}

TEST(Pronunciation, UnknownWordsGetAsciiDictionaryNames) {
    EXPECT_EQ(dictionaryName("vorlix"), "vorlix");
    EXPECT_EQ(dictionaryName("7zip"), "x377a6970");
    EXPECT_EQ(dictionaryName("café"), "x636166c3a9");
}

TEST(Pronunciation, EspeakPronouncesWordsTheDictionaryLacks) {
    EXPECT_EQ(Recognizer::pronounce("vorlix"), "V AO R L IH K S");
    EXPECT_EQ(Recognizer::pronounce("7zip"), "S EH V AH N Z IH P");
    EXPECT_FALSE(Recognizer::pronounce("Žluťoučký").isEmpty());
}

TEST(Grammar, OneAlternativePerPhraseWordsInOrder) {
    const Grammar g = build({"open mail", "Open the browser"});
    EXPECT_EQ(g.alternatives, QStringList({"open mail", "open the browser"}));
    EXPECT_EQ(g.phraseOf.value("open mail", -1), 0);
    EXPECT_EQ(g.phraseOf.value("open the browser", -1), 1);
    EXPECT_TRUE(g.newWords.isEmpty());
    EXPECT_TRUE(g.leftOut.isEmpty());
}

TEST(Grammar, BadPhrasesAreLeftOutWithAReasonAndTheRestKept) {
    const Grammar g = build({"", "?!", "open mail", "xyzzy window", QString("zip ").repeated(20)});
    EXPECT_EQ(g.phraseOf.size(), 1);
    EXPECT_EQ(g.phraseOf.value("open mail"), 2);
    ASSERT_EQ(g.leftOut.size(), 4);
    EXPECT_TRUE(g.leftOut[0].contains("empty"));
    EXPECT_TRUE(g.leftOut[1].contains("no words"));
    EXPECT_TRUE(g.leftOut[2].contains("no pronunciation for \"xyzzy\""));
    EXPECT_TRUE(g.leftOut[3].contains("more than"));
}

TEST(Grammar, UnknownWordsDigitsAndForeignLettersArePronounced) {
    const Grammar g = build({"open 7zip", "Vorlix", "café", "vorlix mail"});
    EXPECT_EQ(g.phraseOf.value("open x377a6970", -1), 0);
    EXPECT_EQ(g.phraseOf.value("vorlix", -1), 1);
    EXPECT_EQ(g.phraseOf.value("x636166c3a9", -1), 2);
    ASSERT_EQ(g.newWords.size(), 3); // "vorlix" only once
    EXPECT_EQ(g.newWords[0].name, "x377a6970");
}

TEST(Grammar, SamePhraseTwiceAnswersAsTheFirst) {
    const Grammar g = build({"open mail", "OPEN MAIL", "close window"});
    EXPECT_EQ(g.phraseOf.size(), 2);
    EXPECT_EQ(g.phraseOf.value("open mail"), 0);
    EXPECT_EQ(g.phraseOf.value("close window"), 2);
}

TEST(Grammar, AHundredPhrasesAndNoneAtAll) {
    QStringList many;
    for (int i = 0; i < 100; ++i)
        many << QStringLiteral("open window %1").arg(i);
    const Grammar g = build(many);
    EXPECT_EQ(g.phraseOf.size(), 100);
    EXPECT_TRUE(build({}).isEmpty());
}

TEST(WordGraph, SpellsEveryPhraseOnceAndNothingElse) {
    QStringList numbered;
    for (int i = 0; i < 200; ++i)
        numbered << QStringLiteral("open item %1").arg(i);
    const QList<QStringList> cases = {
        {"open mail", "open the browser", "scroll down", "scroll", "close", "open the browser window"},
        numbered,
        {},
    };
    for (const QStringList& alternatives : cases) {
        SCOPED_TRACE(alternatives.value(0).toStdString());
        const WordGraph graph = wordGraph(alternatives);
        std::map<std::pair<int, int>, int> wordsBetween;
        QStringList spelt;
        std::function<void(int, QStringList)> walk = [&](int state, QStringList words) {
            if (state == WordGraph::Final) spelt << words.join(' ');
            for (const WordGraph::Arc& arc : graph.arcs) {
                if (arc.from != state) continue;
                ASSERT_LT(arc.to, graph.states);
                ASSERT_TRUE(arc.word >= 0 || arc.to == WordGraph::Final);
                walk(arc.to, arc.word < 0 ? words : words + QStringList{graph.words.value(arc.word)});
            }
        };
        walk(WordGraph::Start, {});
        QStringList expected = alternatives;
        expected.sort();
        spelt.sort();
        EXPECT_EQ(spelt, expected);
        QSet<QString> firstWords;
        int arcsFromStart = 0;
        for (const WordGraph::Arc& arc : graph.arcs) {
            arcsFromStart += arc.from == WordGraph::Start;
            const int between = arc.word < 0 ? 0 : ++wordsBetween[{arc.from, arc.to}];
            EXPECT_LE(between, WordGraph::MaxArcsPerEnd);
        }
        for (const QString& a : alternatives)
            firstWords.insert(a.section(' ', 0, 0));
        EXPECT_EQ(arcsFromStart, firstWords.size()); // phrases that begin alike share their start
    }
}

TEST(Confidence, AllLimitsMustHoldForHigh) {
    Recognizer::Result r;
    r.score = HighConfidenceScore;
    r.wordScore = HighConfidenceWords;
    r.worstWord = HighConfidenceWorstWord;
    r.worstFiller = HighConfidenceWorstFiller;
    EXPECT_EQ(classify(r), Confidence::High);
    r.worstWord = HighConfidenceWorstWord - 1;
    EXPECT_EQ(classify(r), Confidence::Normal);
    r.score = NormalConfidenceScore - 1;
    EXPECT_EQ(classify(r), Confidence::Low);
}
