#include "ui/Twips.h"

#include <QWidget>

#include <cmath>

namespace treelan {

TwipsScale TwipsScale::of(const QWidget* widget) {
    TwipsScale s;
    if (widget && widget->logicalDpiX() > 0) s.dpiX = widget->logicalDpiX();
    if (widget && widget->logicalDpiY() > 0) s.dpiY = widget->logicalDpiY();
    return s;
}

int TwipsScale::toPixelsX(double twips) const {
    return int(std::lround(twips * dpiX / kTwipsPerInch));
}

int TwipsScale::toPixelsY(double twips) const {
    return int(std::lround(twips * dpiY / kTwipsPerInch));
}

QRect TwipsScale::toPixels(const QRectF& twips) const {
    const int left = toPixelsX(twips.left());
    const int top = toPixelsY(twips.top());
    return {left, top, toPixelsX(twips.left() + twips.width()) - left,
            toPixelsY(twips.top() + twips.height()) - top};
}

QSize TwipsScale::toPixels(const QSizeF& twips) const {
    return {toPixelsX(twips.width()), toPixelsY(twips.height())};
}

QRectF TwipsScale::toTwips(const QRect& pixels) const {
    return {toTwipsX(pixels.x()), toTwipsY(pixels.y()), toTwipsX(pixels.width()),
            toTwipsY(pixels.height())};
}

QSizeF TwipsScale::toTwips(const QSize& pixels) const {
    return {toTwipsX(pixels.width()), toTwipsY(pixels.height())};
}

} // namespace treelan
