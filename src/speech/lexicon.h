#pragma once

#include <QString>
#include <QStringList>

namespace speech {

// The words a phrase is spoken as: lower case, split at blanks and punctuation, apostrophes
// kept inside words ("don't"). Digits and non-English letters stay; they are pronounced later.
QStringList phraseWords(const QString& phrase);

// Maps espeak-ng's US English phoneme mnemonics (as given by Espeak::phonemes) onto the
// recogniser's phone set ("AA".."ZH"), blank-separated. Unknown symbols are dropped; empty
// when nothing is left.
QString espeakToModelPhones(const QString& mnemonics);

// The name a word takes in the recogniser's dictionary: itself when it is plain a-z and
// apostrophes, otherwise an ASCII name derived from its letters (the grammar parser and the
// dictionary only take ASCII words).
QString dictionaryName(const QString& word);

} // namespace speech
