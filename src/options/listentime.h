#pragma once

#include <QString>
#include <QtGlobal>

// The longest listening window the timeout box stores, in seconds (and its negative the lowest):
// counted in 100 ms ticks it still fits a signed 32-bit number.
inline constexpr qint32 kListenTimeBound = 2147483647 / 10;

// The number that `text` starts with, the way the timeout box reads it: blanks, tabs and line
// feeds are skipped wherever they stand; an optional sign, digits, an optional "." with decimals
// and an optional exponent (E or D, with sign and digits); or "&H" with hexadecimal digits, "&O"
// with octal digits. Reading stops at the first other character; a text without a number gives 0.
double ReadNumber(const QString& text);

// The timeout box's value: ReadNumber rounded half to even and held within ±kListenTimeBound.
// "&H" and "&O" numbers are taken as the plain whole numbers written, never as negative bit patterns.
qint32 ReadListenTime(const QString& text);
