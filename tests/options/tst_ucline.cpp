#include "options/ucline.h"

#include <QLabel>
#include <QtTest>

class TestUcLine : public QObject {
    Q_OBJECT

private:
    static int CentredLeft(const ucLine& line) { return line.width() / 2 - line.captionLabel()->width() / 2; }

private slots:
    void placeholderBeforeFirstCaption() {
        ucLine line;
        QCOMPARE(line.captionLabel()->text(), QStringLiteral(" ucLine "));
        QCOMPARE(line.Caption(), QString());
    }

    void captionIsPaddedCentredAndReadBackBare() {
        ucLine line;
        line.resize(449, 17);
        line.setCaption(QStringLiteral("Input Device"));
        QCOMPARE(line.Caption(), QStringLiteral("Input Device"));
        QLabel* label = line.captionLabel();
        QCOMPARE(label->text(), QStringLiteral(" Input Device "));
        QVERIFY(!label->isHidden());
        QCOMPARE(label->y(), 0);
        QCOMPARE(label->x(), CentredLeft(line));
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
    }

    void emptyCaptionLeavesOnlyTheLine() {
        ucLine line;
        line.resize(300, 17);
        line.setCaption(QStringLiteral("Miscellaneous"));
        line.setCaption(QString());
        QVERIFY(line.captionLabel()->isHidden());
        QCOMPARE(line.captionLabel()->text(), QString());
        QCOMPARE(line.Caption(), QString());

        const QImage image = line.grab().toImage();
        const QColor dark = line.palette().color(QPalette::Dark);
        for (int x : {0, 150, 299})
            QCOMPARE(image.pixel(x, line.darkLineY()), dark.rgb());
    }

    void linesAreEtchedAndBrokenByTheCaption() {
        ucLine line;
        line.resize(400, 17);
        line.setCaption(QStringLiteral("Acknowledgment"));
        QCOMPARE(line.darkLineY(), 8);  // 120 twips at 96 DPI
        QCOMPARE(line.lightLineY(), 9); // 10 twips lower, rounded to the next pixel row

        const QImage image = line.grab().toImage();
        const QColor dark = line.palette().color(QPalette::Dark);
        const QColor light = line.palette().color(QPalette::Light);
        QCOMPARE(image.pixel(0, line.darkLineY()), dark.rgb());
        QCOMPARE(image.pixel(399, line.darkLineY()), dark.rgb());
        QCOMPARE(image.pixel(0, line.lightLineY()), light.rgb());
        // The leading blank of the caption shows background where the line would run.
        const int blank = line.captionLabel()->x() + 1;
        QCOMPARE(image.pixel(blank, line.darkLineY()), line.palette().color(QPalette::Window).rgb());
    }

    void resizeMovesTheLineEndsAndRecentres() {
        ucLine line;
        line.resize(200, 17);
        line.show();
        line.setCaption(QStringLiteral("Command Help"));
        const int narrowLeft = line.captionLabel()->x();
        line.resize(600, 17);
        QCOMPARE(line.captionLabel()->x(), CentredLeft(line));
        QCOMPARE(line.captionLabel()->x(), narrowLeft + 200);
        QCOMPARE(line.grab().toImage().pixel(599, line.darkLineY()), line.palette().color(QPalette::Dark).rgb());
    }

    void captionWiderThanTheControlIsCutOnBothSides() {
        ucLine line;
        line.resize(40, 17);
        line.setCaption(QStringLiteral("A caption far wider than the divider"));
        QVERIFY(line.captionLabel()->x() < 0);
        QCOMPARE(line.captionLabel()->x(), CentredLeft(line));
    }

    void fontIsCopiedWithoutLayingOut() {
        ucLine line;
        line.resize(400, 17);
        line.show();
        line.setCaption(QStringLiteral("Action Setup"));
        const QRect before = line.captionLabel()->geometry();

        QFont big(QStringLiteral("DejaVu Sans"));
        big.setPointSize(20);
        big.setBold(true);
        big.setItalic(true);
        big.setUnderline(true);
        big.setStrikeOut(true);
        line.setCaptionFont(big);
        const QFont copied = line.captionLabel()->font();
        QCOMPARE(copied.pointSize(), 20);
        QVERIFY(copied.bold() && copied.italic() && copied.underline() && copied.strikeOut());
        QCOMPARE(line.captionLabel()->geometry(), before);

        line.resize(401, 17);
        QVERIFY(line.captionLabel()->width() > before.width());
        QCOMPARE(line.captionLabel()->x(), CentredLeft(line));
    }
};

QTEST_MAIN(TestUcLine)
#include "tst_ucline.moc"
