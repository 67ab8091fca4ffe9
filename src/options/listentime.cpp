#include "options/listentime.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <sstream>
#include <string>

namespace {

// Hands out the characters of a text with blanks, tabs and line feeds left out.
class Reader {
public:
    explicit Reader(const QString& text) : text_(text) { skip(); }

    bool atEnd() const { return pos_ >= text_.size(); }
    QChar peek() const { return atEnd() ? QChar() : text_.at(pos_); }
    void next() {
        ++pos_;
        skip();
    }
    bool atDigit() const { return peek() >= u'0' && peek() <= u'9'; }
    bool take(QChar upper) {
        if (peek().toUpper() != upper) return false;
        next();
        return true;
    }

private:
    void skip() {
        while (!atEnd() && (text_.at(pos_) == u' ' || text_.at(pos_) == u'\t' || text_.at(pos_) == u'\n'))
            ++pos_;
    }
    const QString& text_;
    qsizetype pos_ = 0;
};

int DigitValue(QChar c, int radix) {
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c.unicode() - u'0';
    else if (c.toUpper() >= u'A' && c.toUpper() <= u'F')
        value = c.toUpper().unicode() - u'A' + 10;
    return value < radix ? value : -1;
}

double ReadRadix(Reader& in, int radix) {
    double value = 0;
    for (int digit; (digit = DigitValue(in.peek(), radix)) >= 0; in.next())
        value = value * radix + digit;
    return value;
}

} // namespace

double ReadNumber(const QString& text) {
    Reader in(text);
    if (in.take(u'&')) {
        if (in.take(u'H')) return ReadRadix(in, 16);
        if (in.take(u'O')) return ReadRadix(in, 8);
        return 0;
    }
    // The pieces are gathered into a plain decimal literal and converted in the C locale, which
    // rounds correctly and knows nothing of the user's decimal separator.
    std::string literal;
    if (in.peek() == u'-' || in.peek() == u'+') {
        literal += char(in.peek().unicode());
        in.next();
    }
    for (; in.atDigit(); in.next())
        literal += char(in.peek().unicode());
    if (in.take(u'.')) {
        literal += '.';
        for (; in.atDigit(); in.next())
            literal += char(in.peek().unicode());
    }
    if (literal.find_first_of("0123456789") == std::string::npos) return 0;
    if (in.peek().toUpper() == u'E' || in.peek().toUpper() == u'D') {
        in.next();
        std::string exponent = "e";
        if (in.peek() == u'-' || in.peek() == u'+') {
            exponent += char(in.peek().unicode());
            in.next();
        }
        const size_t signLength = exponent.size();
        for (; in.atDigit(); in.next())
            exponent += char(in.peek().unicode());
        if (exponent.size() > signLength) literal += exponent;
    }
    std::istringstream stream(literal);
    stream.imbue(std::locale::classic());
    double value = 0;
    // Beyond the range of a double the stream gives the largest value of that sign.
    stream >> value;
    return value;
}

qint32 ReadListenTime(const QString& text) {
    const double rounded = std::nearbyint(ReadNumber(text));
    if (std::isnan(rounded)) return 0;
    return qint32(std::clamp(rounded, double(-kListenTimeBound), double(kListenTimeBound)));
}
