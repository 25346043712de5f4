#include "webcam/webcam_geometry.h"

#include <algorithm>
#include <cmath>

namespace vistrale {

CameraShape cameraShapeFrom(qint64 stored)
{
    return stored >= 0 && stored <= 3 ? static_cast<CameraShape>(stored) : CameraShape::normal;
}

QSizeF webcamFrameSize(CameraShape shape, double h)
{
    if (shape == CameraShape::portrait)
        return QSizeF(h, h * 4 / 3);
    return QSizeF(h * 16 / 9, h);
}

QRectF visibleShapeRect(CameraShape shape, QSizeF size, bool fullSize)
{
    const QRectF whole(QPointF(0, 0), size);
    if (fullSize || shape == CameraShape::normal || shape == CameraShape::portrait)
        return whole;
    const double side = std::min(size.width(), size.height());
    QRectF square(0, 0, side, side);
    square.moveCenter(whole.center());
    return square;
}

QPointF defaultWebcamOrigin(CameraShape shape, QSizeF frameSize, double camWidth)
{
    double x = camWidth - WEBCAM_MARGIN - frameSize.width();
    if (shape == CameraShape::square || shape == CameraShape::round)
        x += (frameSize.width() - frameSize.height()) / 2;
    return QPointF(x, WEBCAM_MARGIN);
}

double sizeAfterSegment(double cameraSize, int segment)
{
    if (segment == 0)
        return std::min(cameraSize + 1.0, 2.0);
    const double next = cameraSize - 1.0;
    return next < 0 ? FULL_SIZE : next;
}

double sizeAfterStep(double cameraSize, bool grow)
{
    // Steps of 0.2 are kept exact to a millionth, so that five of them land on 0 and
    // not a rounding error beside it.
    const double next = std::round((cameraSize + (grow ? -0.2 : 0.2)) * 1e6) / 1e6;
    if (grow)
        return next < 0 ? FULL_SIZE : next;
    return std::min(next, 2.0);
}

double sizeAfterClick(double cameraSize)
{
    const double next = cameraSize + 1.0;
    return next > 2.0 ? FULL_SIZE : next;
}

bool pointOnWebcam(CameraShape shape, const QRectF& frame, QPointF point)
{
    if (!frame.contains(point))
        return false;
    switch (shape) {
    case CameraShape::normal:
    case CameraShape::portrait:
        return true;
    case CameraShape::square: {
        const double inset = (frame.width() - frame.height()) / 2;
        return frame.adjusted(inset, 0, -inset, 0).contains(point);
    }
    case CameraShape::round:
        return std::hypot(point.x() - frame.center().x(), point.y() - frame.center().y()) <= frame.height() / 2;
    }
    return false;
}

bool pointOnResizeZone(CameraShape shape, const QRectF& frame, QPointF point)
{
    if (!pointOnWebcam(shape, frame, point))
        return false;
    const QRectF local = visibleShapeRect(shape, frame.size(), false);
    const QRectF visible = local.translated(frame.topLeft());
    const double side = std::min(visible.width(), visible.height());
    const double band = std::max(12.0, side / 8);
    if (shape == CameraShape::round)
        return std::hypot(point.x() - visible.center().x(), point.y() - visible.center().y()) >= side / 2 - band;
    return point.x() - visible.left() < band || visible.right() - point.x() < band || point.y() - visible.top() < band
        || visible.bottom() - point.y() < band;
}

double sizeAfterResize(double startSize, double startDistance, double distance)
{
    if (startSize < 0 || startDistance <= 0 || distance <= 0)
        return startSize;
    // The height is the output's divided by (MIN_RATIO + size).
    const double size = (MIN_RATIO + startSize) * startDistance / distance - MIN_RATIO;
    return std::clamp(std::round(size * 5) / 5, 0.0, 2.0);
}

} // namespace vistrale
