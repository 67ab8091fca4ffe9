#include "options/tabstrip.h"

#include <QEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>

TabStrip::TabStrip(QWidget* parent) : QWidget(parent), tabs_(new QTabBar(this)) {
    tabs_->setObjectName(QStringLiteral("tabs"));
    // The panel frame below draws the base line the tabs stand on.
    tabs_->setDrawBase(false);
    connect(tabs_, &QTabBar::currentChanged, this, qOverload<>(&QWidget::update));
}

void TabStrip::addTab(const QString& caption) {
    tabs_->addTab(caption);
    tabs_->resize(tabs_->sizeHint());
}

void TabStrip::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) tabs_->resize(tabs_->sizeHint());
    QWidget::changeEvent(event);
}

QString TabStrip::SelectedCaption() const {
    return tabs_->tabText(tabs_->currentIndex());
}

void TabStrip::paintEvent(QPaintEvent*) {
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarSize = tabs_->size();
    frame.tabBarRect = tabs_->geometry();
    if (tabs_->currentIndex() >= 0)
        frame.selectedTabRect = tabs_->tabRect(tabs_->currentIndex()).translated(tabs_->pos());
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    frame.rect = QRect(0, tabs_->height() - overlap, width(), height() - tabs_->height() + overlap);
    QStylePainter(this).drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}
