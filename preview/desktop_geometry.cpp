#include "preview/desktop_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace vistrale {
namespace {

// The bottom edge of the main screen in Qt's coordinates.
double mainScreenBottom()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1080;
    const QRect geometry = screen->geometry();
    return geometry.y() + geometry.height();
}

} // namespace

QRect qtGeometryFromFrame(const QRectF& frame)
{
    const double top = mainScreenBottom() - (frame.y() + frame.height());
    return QRect(static_cast<int>(std::lround(frame.x())), static_cast<int>(std::lround(top)),
        static_cast<int>(std::lround(frame.width())), static_cast<int>(std::lround(frame.height())));
}

QRectF frameFromQtGeometry(const QRect& geometry)
{
    return QRectF(
        geometry.x(), mainScreenBottom() - (geometry.y() + geometry.height()), geometry.width(), geometry.height());
}

} // namespace vistrale
