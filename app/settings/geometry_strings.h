#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <optional>

namespace vistrale {

// Rectangles and points as stored in the settings: "{{x, y}, {width, height}}" and
// "{x, y}".
QString rectString(const QRectF& rect);
QString pointString(const QPointF& point);

// None when the text is not of that form or holds a value that is not a finite number.
std::optional<QRectF> parseRectString(const QString& text);
std::optional<QPointF> parsePointString(const QString& text);

} // namespace vistrale
