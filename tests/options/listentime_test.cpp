#include "options/listentime.h"

#include <gtest/gtest.h>

#include <locale>

// Halves round to even; blanks, tabs and line feeds count nowhere; a full-width digit is no digit.
TEST(ReadListenTime, ReadsTheLeadingNumberWithinTheBound) {
    const int max = kListenTimeBound;
    const struct {
        const char* text;
        int seconds;
    } cases[] = {
        {"abc", 0},     {"-5", -5},          {"2.5", 2},          {"3.5", 4},          {"-2.5", -2},
        {".7", 1},      {"1 2", 12},         {"\t1\n0 .\t5", 10}, {"15 secs", 15},     {"1\r2", 1},
        {"1.5E1", 15},  {"3 e +2", 300},     {"4e", 4},           {"&H1F", 31},        {"&O17", 15},
        {"&O178", 15},  {"&B101", 0},        {"-&H10", 0},        {"\xef\xbc\x97", 0}, {"1e99", max},
        {"1e999", max}, {"&HFFFFFFFF", max}, {"214748365", max},  {"1e-400", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadListenTime(QString::fromUtf8(c.text)), c.seconds) << c.text;
}

TEST(ReadNumber, DecimalPointIgnoresTheProgramLocale) {
    // A locale whose decimal separator is ",", as many users have.
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    const double read = ReadNumber(QStringLiteral("1.25"));
    std::locale::global(previous);
    EXPECT_EQ(read, 1.25);
}
