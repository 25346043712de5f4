#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace vistrale {

// Text drawn once into a transparent picture of the given size, so that the compositor
// draws a picture, not outlines, on every frame. One point is one pixel.
QImage renderTextPicture(
    const QString& text, QSize size, double pointSize, const QColor& color, Qt::Alignment alignment);

} // namespace vistrale
