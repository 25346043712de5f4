#include "overlays/pointer_geometry.h"

#include <algorithm>

namespace vistrale {
namespace {

constexpr double MAGNIFIED_SHARE = 0.1;
constexpr double REGION_SHRINK = 4;

} // namespace

std::optional<QPointF> pointInOutput(QPointF mouse, const QRectF& source, const QRectF& view)
{
    if (source.width() <= 0 || source.height() <= 0)
        return std::nullopt;
    return QPointF((mouse.x() - source.x()) * view.width() / source.width() + view.x(),
        (mouse.y() - source.y()) * view.height() / source.height() + view.y());
}

std::optional<QRectF> magnifierContentsRect(const QRectF& frame, QPointF pointer)
{
    if (frame.width() <= 0 || frame.height() <= 0 || !frame.contains(pointer))
        return std::nullopt;
    const double x = (pointer.x() - frame.x()) / frame.width();
    // Global y grows upwards, picture rows downwards.
    const double y = 1 - (pointer.y() - frame.y()) / frame.height();
    const double half = MAGNIFIED_SHARE / 2;
    return QRectF(x - half, y - half, MAGNIFIED_SHARE, MAGNIFIED_SHARE);
}

QRectF pointerImageFrame(QSizeF view, QPointF hotSpot, QSize image, double scale)
{
    const double s = scale > 0 ? scale : 1;
    const QPointF centre(view.width() / 2, view.height() / 2);
    return QRectF(centre.x() - hotSpot.x() * s, centre.y() + hotSpot.y() * s - image.height() * s, image.width() * s,
        image.height() * s);
}

bool acceptablePointerImage(QSize image, QPointF hotSpot)
{
    return image.width() > 0 && image.height() > 0 && image.width() <= MAX_POINTER_IMAGE_SIDE
        && image.height() <= MAX_POINTER_IMAGE_SIDE && hotSpot.x() >= 0 && hotSpot.y() >= 0
        && hotSpot.x() <= image.width() && hotSpot.y() <= image.height();
}

QRectF regionBoxFor(QPointF first, QPointF current, const QRectF& bounds)
{
    const QRectF spanned = QRectF(first, current).normalized();
    const QRectF inside = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
    const QRectF clipped = spanned.intersected(inside);
    if (clipped.isValid())
        return clipped;
    // A drag wholly outside (or a click): an empty box at the nearest inside point.
    const QPointF at(std::clamp(first.x(), inside.left(), std::max(inside.left(), inside.right())),
        std::clamp(first.y(), inside.top(), std::max(inside.top(), inside.bottom())));
    return QRectF(at, QSizeF(0, 0));
}

bool regionBoxLargeEnough(const QRectF& box)
{
    const QRectF shrunk = box.adjusted(REGION_SHRINK, REGION_SHRINK, -REGION_SHRINK, -REGION_SHRINK);
    return shrunk.width() >= MIN_REGION_WIDTH && shrunk.height() >= MIN_REGION_HEIGHT;
}

QRectF regionCropFor(const QRectF& box, double frameOffset)
{
    return box.translated(frameOffset, frameOffset);
}

} // namespace vistrale
