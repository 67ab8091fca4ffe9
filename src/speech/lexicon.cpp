#include "speech/lexicon.h"

#include <QHash>
#include <QRegularExpression>

namespace speech {

QStringList phraseWords(const QString& phrase) {
    QStringList words;
    QString current;
    auto flush = [&] {
        while (current.startsWith(QLatin1Char('\'')))
            current.remove(0, 1);
        while (current.endsWith(QLatin1Char('\'')))
            current.chop(1);
        if (!current.isEmpty()) words << current;
        current.clear();
    };
    for (const QChar c : phrase.toLower()) {
        if (c.isLetterOrNumber() || c.isMark() || c == QLatin1Char('\''))
            current += c;
        else
            flush();
    }
    flush();
    return words;
}

QString espeakToModelPhones(const QString& mnemonics) {
    // espeak-ng en-us mnemonics -> CMU phones. Variants marked with '#' or a digit fall back to
    // their base symbol below.
    static const QHash<QString, QString> map = {
        {"a", "AE"},      {"aa", "AE"},   {"A:", "AA"},   {"A", "AA"},      {"A@", "AA R"},   {"@", "AH"},
        {"@2", "AH"},     {"@5", "AH"},   {"@L", "AH L"}, {"@r", "ER"},     {"3", "ER"},      {"3:", "ER"},
        {"a#", "AH"},     {"a2", "AH"},   {"aI", "AY"},   {"aI@", "AY ER"}, {"aI3", "AY ER"}, {"aU", "AW"},
        {"aU@", "AW ER"}, {"e", "EH"},    {"E", "EH"},    {"e@", "EH R"},   {"eI", "EY"},     {"i", "IY"},
        {"i:", "IY"},     {"I", "IH"},    {"i@", "IH R"}, {"i@3", "IH R"},  {"0", "AA"},      {"O", "AO"},
        {"O:", "AO"},     {"O@", "AO R"}, {"o@", "AO R"}, {"OI", "OY"},     {"oU", "OW"},     {"o", "OW"},
        {"u", "UW"},      {"u:", "UW"},   {"U", "UH"},    {"U@", "UH R"},   {"V", "AH"},      {"p", "P"},
        {"b", "B"},       {"t", "T"},     {"d", "D"},     {"k", "K"},       {"g", "G"},       {"f", "F"},
        {"v", "V"},       {"T", "TH"},    {"D", "DH"},    {"s", "S"},       {"z", "Z"},       {"S", "SH"},
        {"Z", "ZH"},      {"h", "HH"},    {"m", "M"},     {"n", "N"},       {"N", "NG"},      {"l", "L"},
        {"r", "R"},       {"w", "W"},     {"j", "Y"},     {"tS", "CH"},     {"dZ", "JH"},     {"x", "K"},
        {"C", "HH"},      {"y", "IY"},    {"Y", "UW"},    {"W", "UW"},      {"R", "R"},       {"L", "L"},
        {"c", "K"},       {"J", "Y"},     {"B", "B"},     {"G", "G"},       {"q", "K"},       {"ts", "T S"},
    };
    static const QRegularExpression stress(QStringLiteral("[',%=]"));
    QStringList phones;
    for (QString symbol : mnemonics.split(QRegularExpression(QStringLiteral("[_\\s|]+")), Qt::SkipEmptyParts)) {
        symbol.remove(stress);
        // Strip variant marks ("t#", "I2", "r-", "l/", "n-") until a known symbol remains.
        while (!symbol.isEmpty() && !map.contains(symbol))
            symbol.chop(1);
        if (!symbol.isEmpty()) phones << map.value(symbol);
    }
    return phones.join(QLatin1Char(' '));
}

QString dictionaryName(const QString& word) {
    static const QRegularExpression plain(QStringLiteral("^[a-z']+$"));
    if (plain.match(word).hasMatch()) return word;
    return QStringLiteral("x") + QString::fromLatin1(word.toUtf8().toHex());
}

} // namespace speech
