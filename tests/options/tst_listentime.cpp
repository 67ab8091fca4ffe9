#include "options/listentime.h"

#include <QtTest>
#include <locale>

class TestListenTime : public QObject {
    Q_OBJECT

private slots:
    void reads_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seconds");
        QTest::newRow("no number") << "abc" << 0;
        QTest::newRow("negative kept") << "-5" << -5;
        QTest::newRow("two and a half to even") << "2.5" << 2;
        QTest::newRow("three and a half to even") << "3.5" << 4;
        QTest::newRow("minus two and a half") << "-2.5" << -2;
        QTest::newRow("leading decimal point") << ".7" << 1;
        QTest::newRow("blank between digits") << "1 2" << 12;
        QTest::newRow("tabs and line feeds anywhere") << "\t1\n0 .\t5" << 10;
        QTest::newRow("stops at other character") << "15 secs" << 15;
        QTest::newRow("carriage return stops") << "1\r2" << 1;
        QTest::newRow("exponent E") << "1.5E1" << 15;
        QTest::newRow("exponent with blanks") << "3 e +2" << 300;
        QTest::newRow("exponent without digits") << "4e" << 4;
        QTest::newRow("hexadecimal") << "&H1F" << 31;
        QTest::newRow("octal") << "&O17" << 15;
        QTest::newRow("octal stops at 8") << "&O178" << 15;
        QTest::newRow("unknown radix") << "&B101" << 0;
        QTest::newRow("sign before radix") << "-&H10" << 0;
        QTest::newRow("full-width digits are not digits") << QString::fromUtf8("\xef\xbc\x97") << 0;
        QTest::newRow("huge exponent") << "1e99" << kListenTimeBound;
        QTest::newRow("beyond double") << "1e999" << kListenTimeBound;
        QTest::newRow("all bits set is a big number") << "&HFFFFFFFF" << kListenTimeBound;
        QTest::newRow("just outside the bound") << "214748365" << kListenTimeBound;
        QTest::newRow("tiny") << "1e-400" << 0;
    }

    void reads() {
        QFETCH(QString, text);
        QFETCH(int, seconds);
        QCOMPARE(ReadListenTime(text), seconds);
    }

    void decimalPointIgnoresTheProgramLocale() {
        // A locale whose decimal separator is ",", as many users have.
        struct CommaDecimal : std::numpunct<char> {
            char do_decimal_point() const override { return ','; }
        };
        const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
        const double read = ReadNumber(QStringLiteral("1.25"));
        std::locale::global(previous);
        QCOMPARE(read, 1.25);
    }
};

QTEST_GUILESS_MAIN(TestListenTime)
#include "tst_listentime.moc"
