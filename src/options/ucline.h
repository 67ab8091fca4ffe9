#pragma once

#include <QString>
#include <QWidget>

class QLabel;

// A section divider: an etched horizontal line across the whole width, interrupted by a caption
// centred on it.
class ucLine : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)

public:
    explicit ucLine(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void setCaption(const QString& UText);
    // The control's Font: copies the typeface, bold, italic, size, underline and strikethrough to
    // the caption. It does not lay the control out again, so set it before the caption.
    void setCaptionFont(const QFont& UseFont);

    QLabel* captionLabel() const { return Label1; }
    // Vertical positions in pixels of the dark line and the light line below it.
    int darkLineY() const;
    int lightLineY() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void LayoutControl();

    QLabel* Label1;
    QString caption_;
};
