#pragma once

#include <QHash>
#include <QList>
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

    QString jsgf;                 // empty when no phrase is usable
    QHash<QString, int> phraseOf; // dictionary names joined by " " -> position in the phrase list
    QList<Word> newWords;         // words the dictionary lacks, with generated pronunciations
    QStringList leftOut;          // one line per phrase left out, with the reason

    bool isEmpty() const { return jsgf.isEmpty(); }
};

// Longer phrases are not commands; they also slow every search down.
inline constexpr int MaxPhraseWords = 16;

// inDictionary(word): whether the model's dictionary knows `word`.
// pronounce(word): model phones for a word it does not know, or empty.
Grammar buildGrammar(const QStringList& phrases, const std::function<bool(const QString&)>& inDictionary,
                     const std::function<QString(const QString&)>& pronounce);

} // namespace speech
