#pragma once

#include <QRect>
#include <QRectF>

namespace vistrale {

// Qt places top-level windows with a top-left origin; the core keeps global points
// with the origin at the bottom left of the main screen. These convert between the two
// for this application's own windows.
QRect qtGeometryFromFrame(const QRectF& frame);
QRectF frameFromQtGeometry(const QRect& geometry);

} // namespace vistrale
