#include "speech/grammar.h"

#include "speech/lexicon.h"

#include <QSet>

#include <vector>

namespace speech {

Grammar buildGrammar(const QStringList& phrases, const std::function<bool(const QString&)>& inDictionary,
                     const std::function<QString(const QString&)>& pronounce) {
    Grammar g;
    QSet<QString> added;
    for (int i = 0; i < phrases.size(); ++i) {
        const QString& phrase = phrases[i];
        const QStringList words = phraseWords(phrase);
        auto leaveOut = [&](const QString& why) {
            g.leftOut << QStringLiteral("phrase %1 \"%2\" left out: %3").arg(i).arg(phrase.left(80), why);
        };
        if (words.isEmpty()) {
            leaveOut(phrase.trimmed().isEmpty() ? QStringLiteral("it is empty") : QStringLiteral("it has no words"));
            continue;
        }
        if (words.size() > MaxPhraseWords) {
            leaveOut(QStringLiteral("more than %1 words").arg(MaxPhraseWords));
            continue;
        }
        QStringList names;
        QList<Grammar::Word> wordsToAdd;
        QString failed;
        for (const QString& word : words) {
            const QString name = dictionaryName(word);
            if (name == word && inDictionary(word)) {
                names << name;
                continue;
            }
            if (!added.contains(name)) {
                const QString phones = pronounce(word);
                if (phones.isEmpty()) {
                    failed = word;
                    break;
                }
                wordsToAdd.append({name, phones});
            }
            names << name;
        }
        if (!failed.isEmpty()) {
            leaveOut(QStringLiteral("no pronunciation for \"%1\"").arg(failed));
            continue;
        }
        for (const Grammar::Word& w : wordsToAdd) {
            if (!added.contains(w.name)) {
                added.insert(w.name);
                g.newWords.append(w);
            }
        }
        const QString key = names.join(QLatin1Char(' '));
        if (g.phraseOf.contains(key)) continue; // same words as an earlier phrase, which answers for both
        g.phraseOf.insert(key, i);
        g.alternatives << key;
    }
    return g;
}

WordGraph wordGraph(const QStringList& alternatives) {
    WordGraph graph;
    QHash<QString, int> wordIndex;
    // The tree of words first: whether a node becomes a state of its own is known only once every
    // phrase is in.
    struct Node {
        std::vector<std::pair<int, int>> children; // (word, node), in the order first met
        bool ends = false;
    };
    std::vector<Node> nodes(1);
    QHash<std::pair<int, int>, int> childOf; // (node, word) -> node
    for (const QString& alternative : alternatives) {
        int node = 0;
        for (const QString& word : alternative.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            auto w = wordIndex.constFind(word);
            if (w == wordIndex.cend()) {
                w = wordIndex.insert(word, int(graph.words.size()));
                graph.words << word;
            }
            const auto key = std::make_pair(node, *w);
            auto child = childOf.constFind(key);
            if (child == childOf.cend()) {
                child = childOf.insert(key, int(nodes.size()));
                nodes[std::size_t(node)].children.emplace_back(*w, *child);
                nodes.emplace_back();
            }
            node = *child;
        }
        if (node != 0) nodes[std::size_t(node)].ends = true;
    }

    std::vector<int> stateOf(nodes.size(), -1);
    stateOf[0] = WordGraph::Start;
    std::vector<int> endStates; // shared by all states: the limit is per pair of states
    for (std::size_t node = 0; node < nodes.size(); ++node) {
        const int from = stateOf[node];
        int leaves = 0;
        for (const auto& [word, child] : nodes[node].children) {
            const Node& c = nodes[std::size_t(child)];
            if (!c.children.empty()) {
                stateOf[std::size_t(child)] = graph.states++;
                graph.arcs.append({from, stateOf[std::size_t(child)], word});
                if (c.ends) graph.arcs.append({stateOf[std::size_t(child)], WordGraph::Final, -1});
                continue;
            }
            const std::size_t end = std::size_t(leaves++ / WordGraph::MaxArcsPerEnd);
            if (end > endStates.size()) {
                endStates.push_back(graph.states++);
                graph.arcs.append({endStates.back(), WordGraph::Final, -1});
            }
            graph.arcs.append({from, end == 0 ? int(WordGraph::Final) : endStates[end - 1], word});
        }
    }
    return graph;
}

int addSoundAlikes(WordGraph& graph, const QHash<QString, QStringList>& soundAlikes, int cost, int maxArcs) {
    QHash<QString, int> wordIndex;
    for (int i = 0; i < graph.words.size(); ++i)
        wordIndex.insert(graph.words[i], i);
    int added = 0;
    for (qsizetype i = 0, arcs = graph.arcs.size(); i < arcs; ++i) {
        const WordGraph::Arc arc = graph.arcs[i];
        const QStringList alikes = arc.word < 0 || arc.cost ? QStringList() : soundAlikes.value(graph.words[arc.word]);
        if (added + alikes.size() > maxArcs) continue;
        for (const QString& alike : alikes) {
            auto w = wordIndex.constFind(alike);
            if (w == wordIndex.cend()) {
                w = wordIndex.insert(alike, int(graph.words.size()));
                graph.words << alike;
            }
            graph.arcs.append({arc.from, arc.to, *w, cost});
            ++added;
        }
    }
    return added;
}

PhraseContinuations::PhraseContinuations(const WordGraph& graph) {
    for (int i = 0; i < graph.words.size(); ++i)
        wordIndex_.insert(graph.words[i], i);
    for (const WordGraph::Arc& arc : graph.arcs) {
        if (arc.word < 0) continue;
        next_.insert(quint64(arc.from) << 32 | quint32(arc.word), arc.to);
        goesOn_.insert(arc.from);
    }
}

bool PhraseContinuations::mayGoOn(const QString& words) const {
    // A sound-alike stands beside the word it sounds like, so it may lead to several states.
    QSet<int> states = {WordGraph::Start};
    for (const QString& word : words.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const auto w = wordIndex_.constFind(word);
        if (w == wordIndex_.cend()) return false;
        QSet<int> reached;
        for (int state : std::as_const(states))
            for (auto it = next_.constFind(quint64(state) << 32 | quint32(*w));
                 it != next_.cend() && it.key() == (quint64(state) << 32 | quint32(*w)); ++it)
                reached.insert(*it);
        if (reached.isEmpty()) return false;
        states = std::move(reached);
    }
    // Nothing heard yet but silence and noise: nothing to wait for either.
    if (states.contains(WordGraph::Start)) return false;
    for (int state : std::as_const(states))
        if (goesOn_.contains(state)) return true;
    return false;
}

} // namespace speech
