#pragma once

#include <QString>
#include <QWidget>

class QTabBar;

// The tab strip of the options window: a row of tabs over a framed panel. It holds no pages;
// the window lays its pages over the panel and picks one by the selected tab's caption.
class TabStrip : public QWidget {
    Q_OBJECT

public:
    explicit TabStrip(QWidget* parent = nullptr);

    QTabBar* tabs() const { return tabs_; }
    void addTab(const QString& caption);
    // The selected tab's caption as given, "&" included; empty when no tab is selected.
    QString SelectedCaption() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QTabBar* tabs_;
};
