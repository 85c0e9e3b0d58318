#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

class QWidget;

namespace treelan {

// Window geometry is designed in twips (1440 per inch); pixels follow from the logical DPI, so
// 96 DPI gives 15 twips per pixel. Rectangles convert their edges, so that neighbouring controls
// never open a one-pixel gap by rounding.
constexpr double kTwipsPerInch = 1440.0;

struct TwipsScale {
    double dpiX = 96.0;
    double dpiY = 96.0;

    static TwipsScale of(const QWidget* widget);

    int toPixelsX(double twips) const;
    int toPixelsY(double twips) const;
    double toTwipsX(int pixels) const { return pixels * kTwipsPerInch / dpiX; }
    double toTwipsY(int pixels) const { return pixels * kTwipsPerInch / dpiY; }

    QRect toPixels(const QRectF& twips) const;
    QSize toPixels(const QSizeF& twips) const;
    QRectF toTwips(const QRect& pixels) const;
    QSizeF toTwips(const QSize& pixels) const;
};

} // namespace treelan
