#include "options/ucline.h"

#include <QLabel>
#include <QtTest>

class TestUcLine : public QObject {
    Q_OBJECT

private:
    static int CentredLeft(const ucLine& line) { return line.width() / 2 - line.captionLabel()->width() / 2; }
    static QRgb At(ucLine& line, int x, int y) { return line.grab().toImage().pixel(x, y); }

private slots:
    void captionIsPaddedCentredAndFollowsResize() {
        ucLine line;
        QCOMPARE(line.captionLabel()->text(), QStringLiteral(" ucLine "));
        line.resize(200, 17);
        line.show();
        line.setCaption(QStringLiteral("Input Device"));
        QLabel* label = line.captionLabel();
        QCOMPARE(line.Caption(), QStringLiteral("Input Device"));
        QCOMPARE(label->text(), QStringLiteral(" Input Device "));
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        QCOMPARE(label->pos(), QPoint(CentredLeft(line), 0));

        line.resize(600, 17);
        QCOMPARE(label->x(), CentredLeft(line));
        QCOMPARE(At(line, 599, line.darkLineY()), line.palette().color(QPalette::Dark).rgb());
        // The caption's leading blank shows background where the line would run.
        QCOMPARE(At(line, label->x() + 1, line.darkLineY()), line.palette().color(QPalette::Window).rgb());

        line.resize(40, 17);
        QVERIFY(label->x() < 0);
    }

    void emptyCaptionShowsTheWholeEtchedLine() {
        ucLine line;
        line.resize(300, 17);
        line.setCaption(QStringLiteral("Miscellaneous"));
        line.setCaption(QString());
        QVERIFY(line.captionLabel()->isHidden());
        QVERIFY(line.captionLabel()->text().isEmpty() && line.Caption().isEmpty());
        QCOMPARE(line.darkLineY(), 8); // 120 twips at 96 DPI
        QCOMPARE(line.lightLineY(), 9);
        for (int x : {0, 150, 299}) {
            QCOMPARE(At(line, x, line.darkLineY()), line.palette().color(QPalette::Dark).rgb());
            QCOMPARE(At(line, x, line.lightLineY()), line.palette().color(QPalette::Light).rgb());
        }
    }

    void fontIsCopiedWithoutLayingOut() {
        ucLine line;
        line.resize(400, 17);
        line.show();
        line.setCaption(QStringLiteral("Action Setup"));
        const QRect before = line.captionLabel()->geometry();
        QFont big(QStringLiteral("DejaVu Sans"), 20);
        big.setBold(true);
        big.setItalic(true);
        big.setUnderline(true);
        big.setStrikeOut(true);
        line.setCaptionFont(big);
        const QFont copied = line.captionLabel()->font();
        QVERIFY(copied.pointSize() == 20 && copied.bold() && copied.italic() && copied.underline() &&
                copied.strikeOut());
        QCOMPARE(line.captionLabel()->geometry(), before);

        line.resize(401, 17);
        QVERIFY(line.captionLabel()->width() > before.width());
        QCOMPARE(line.captionLabel()->x(), CentredLeft(line));
    }
};

QTEST_MAIN(TestUcLine)
#include "ucline_test.moc"
