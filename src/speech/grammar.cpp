#include "speech/grammar.h"

#include "speech/lexicon.h"

#include <QSet>

namespace speech {

Grammar buildGrammar(const QStringList& phrases, const std::function<bool(const QString&)>& inDictionary,
                     const std::function<QString(const QString&)>& pronounce) {
    Grammar g;
    QStringList alternatives;
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
        alternatives << key;
    }
    if (!alternatives.isEmpty())
        g.jsgf = QStringLiteral("#JSGF V1.0;\ngrammar vorlix;\npublic <phrase> = ( %1 );\n")
                     .arg(alternatives.join(QStringLiteral(" ) | ( ")));
    return g;
}

} // namespace speech
