#pragma once

#include <QRect>
#include <QWidget>
#include <cmath>

// Page positions are kept in twips (1440 to the inch) and turned into pixels with the screen's
// logical DPI, so the pages keep their proportions at any DPI: 15 twips to a pixel at 96 DPI.
class Twips {
public:
    explicit Twips(const QWidget* widget) : dpiX_(widget->logicalDpiX()), dpiY_(widget->logicalDpiY()) {}
    Twips(double dpiX, double dpiY) : dpiX_(dpiX), dpiY_(dpiY) {}

    int x(int twips) const { return int(std::lround(twips * dpiX_ / 1440.0)); }
    int y(int twips) const { return int(std::lround(twips * dpiY_ / 1440.0)); }
    QRect rect(int left, int top, int width, int height) const { return QRect(x(left), y(top), x(width), y(height)); }

private:
    double dpiX_;
    double dpiY_;
};
