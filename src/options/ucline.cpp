#include "options/ucline.h"

#include "options/twips.h"

#include <QLabel>
#include <QPainter>

ucLine::ucLine(QWidget* parent) : QWidget(parent), Label1(new QLabel(this)) {
    Label1->setObjectName(QStringLiteral("Label1"));
    // The caption hides the line behind its text, blanks included.
    Label1->setAutoFillBackground(true);
    Label1->setBackgroundRole(QPalette::Window);
    Label1->setText(QStringLiteral(" ucLine "));
    LayoutControl();
}

void ucLine::setCaption(const QString& UText) {
    if (!UText.isEmpty()) {
        Label1->setVisible(true);
        Label1->setText(QLatin1Char(' ') + UText + QLatin1Char(' '));
    } else {
        Label1->setVisible(false);
        Label1->setText(QString());
    }
    caption_ = UText;
    LayoutControl();
}

void ucLine::setCaptionFont(const QFont& UseFont) {
    QFont font = Label1->font();
    font.setFamily(UseFont.family());
    font.setBold(UseFont.bold());
    font.setItalic(UseFont.italic());
    font.setPointSizeF(UseFont.pointSizeF());
    font.setUnderline(UseFont.underline());
    font.setStrikeOut(UseFont.strikeOut());
    Label1->setFont(font);
}

int ucLine::darkLineY() const {
    return Twips(this).y(120);
}
// At low DPI 10 twips may round to no distance at all; the etched look needs two rows.
int ucLine::lightLineY() const {
    return qMax(darkLineY() + 1, Twips(this).y(130));
}

void ucLine::resizeEvent(QResizeEvent*) {
    LayoutControl();
}

void ucLine::LayoutControl() {
    Label1->adjustSize();
    Label1->move(width() / 2 - Label1->width() / 2, 0);
}

void ucLine::paintEvent(QPaintEvent*) {
    // One logical pixel each, so the light line never covers the dark one at any DPI.
    QPainter painter(this);
    painter.fillRect(0, darkLineY(), width(), 1, palette().color(QPalette::Dark));
    painter.fillRect(0, lightLineY(), width(), 1, palette().color(QPalette::Light));
}
