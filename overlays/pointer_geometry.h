#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <optional>

namespace vistrale {

// Where the pointer stands in the output: `mouse` (global points) mapped from the
// window's source rectangle `source` (its frame, or its region box in global points)
// onto its view's frame `view` in the output. Both bottom-left origin. None when the
// source is empty.
std::optional<QPointF> pointInOutput(QPointF mouse, const QRectF& source, const QRectF& view);

// The part of a window's picture the magnifier shows: a tenth of the window each way,
// centred on the pointer `pointer` (global points) over the window frame `frame`, in
// the picture's unit coordinates (origin at the picture's top left, as contents
// rectangles count). None when the pointer is not over the frame.
std::optional<QRectF> magnifierContentsRect(const QRectF& frame, QPointF pointer);

// Where the pointer image goes inside the pointer view of size `view` so that its hot
// spot (image pixels from the top left) sits at the view's centre, scaled by `scale`
// about the hot spot. View coordinates, bottom-left origin.
QRectF pointerImageFrame(QSizeF view, QPointF hotSpot, QSize image, double scale);

// Pointer images larger than this on either side are refused (a cursor is at most a
// few dozen pixels; a huge one would only cover the output).
inline constexpr int MAX_POINTER_IMAGE_SIDE = 256;
// Whether a pointer image of this size and hot spot can be shown.
bool acceptablePointerImage(QSize image, QPointF hotSpot);

// The region box spanned by the drag from `first` to `current`, clipped to the overlay's
// `bounds` inset by half a point. Overlay coordinates, bottom-left origin.
QRectF regionBoxFor(QPointF first, QPointF current, const QRectF& bounds);

// Region boxes narrower than 64 or lower than 32 points once shrunk by 4 on every side
// (72 × 40 as drawn) are dropped.
inline constexpr double MIN_REGION_WIDTH = 64;
inline constexpr double MIN_REGION_HEIGHT = 32;
bool regionBoxLargeEnough(const QRectF& box);

// The part of the shared window a region box drawn on its overlay stands for, in the
// window's own coordinates (points, bottom-left origin): the box moved by the overlay's
// offset from the window (`frameOffset`, negative when the overlay reaches out).
QRectF regionCropFor(const QRectF& box, double frameOffset);

} // namespace vistrale
