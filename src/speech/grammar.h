#pragma once

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace speech {

// The rule's phrases turned into a recogniser grammar: one alternative per usable phrase, its
// words in order. Phrases that cannot be spoken are left out, each with its reason.
struct Grammar {
    struct Word {
        QString name;   // dictionary name
        QString phones; // blank-separated model phones
    };

    QStringList alternatives;     // dictionary names joined by " ", one entry per distinct phrase
    QHash<QString, int> phraseOf; // an alternative -> position in the phrase list
    QList<Word> newWords;         // words the dictionary lacks, with generated pronunciations
    QStringList leftOut;          // one line per phrase left out, with the reason

    bool isEmpty() const { return alternatives.isEmpty(); }
};

// The alternatives as a word graph for the recogniser: a tree of words from `Start`, phrases that
// begin alike sharing their first states, so that no state fans out into every phrase (the
// recogniser's cost grows with the square of a state's transitions). A phrase ends on a word into
// an end state, or with an empty step into `Final` where it ends inside the tree ("scroll" beside
// "scroll down"); each end state other than `Final` has an empty step into it. Every transition is
// certain: all phrases are equally likely, whatever their shape. Words arriving at an end state
// from one state are at most `MaxArcsPerEnd`, as the recogniser compares each new transition with
// the others between the same two states.
struct WordGraph {
    static constexpr int Start = 0, Final = 1;
    static constexpr int MaxArcsPerEnd = 64;
    struct Arc {
        int from = 0, to = 0;
        int word = -1; // position in `words`, -1 for an empty step into `Final`
        int cost = 0;  // a sound-alike's cost in the search; 0 for the phrase's own word
    };
    int states = 2;
    QStringList words; // each once
    QList<Arc> arcs;
};

WordGraph wordGraph(const QStringList& alternatives);

// Lets each word of a phrase be replaced by one of its sound-alikes (`soundAlikes`: word -> its
// sound-alikes): arcs beside the word's own, at `cost`. Adds at most `maxArcs` of them, for the first
// words of a long list only; returns how many were added.
int addSoundAlikes(WordGraph& graph, const QHash<QString, QStringList>& soundAlikes, int cost, int maxArcs);

// Where the words heard so far lead in a word graph: whether they may be only the start of a phrase
// ("open" of "open mail", "scroll" beside "scroll down"), so that the end of the utterance should
// wait for the rest. A whole phrase that no other phrase continues, and words that lead nowhere in
// the graph (no phrase, no start of one), do not go on.
class PhraseContinuations {
public:
    PhraseContinuations() = default;
    explicit PhraseContinuations(const WordGraph& graph);
    // `words`: dictionary names, blank-separated, as the recogniser's hypothesis spells them.
    bool mayGoOn(const QString& words) const;

private:
    QHash<QString, int> wordIndex_;
    QMultiHash<quint64, int> next_; // (state << 32 | word) -> the states that word leads to
    QSet<int> goesOn_;              // states a word leaves from
};

// Longer phrases are not commands; they also slow every search down.
inline constexpr int MaxPhraseWords = 16;

// inDictionary(word): whether the model's dictionary knows `word`.
// pronounce(word): model phones for a word it does not know, or empty.
Grammar buildGrammar(const QStringList& phrases, const std::function<bool(const QString&)>& inDictionary,
                     const std::function<QString(const QString&)>& pronounce);

} // namespace speech
