#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace vistrale {

// The webcam's shapes, stored by number in "camerashape".
enum class CameraShape { normal = 0, square = 1, round = 2, portrait = 3 };

// A stored shape number; anything outside 0-3 reads as normal.
CameraShape cameraShapeFrom(qint64 stored);

// The margin between the webcam and the output's right and bottom edges.
inline constexpr double WEBCAM_MARGIN = 9;
// Added to the size step to give the output-height-to-webcam ratio.
inline constexpr double MIN_RATIO = 2.0;
// The size step that means "fills the whole output".
inline constexpr double FULL_SIZE = -1.0;

// The webcam's frame size for a webcam height `h`: 16:9 wide for the normal, square
// and round shapes (the last two show only a centred part of it), h wide and 4h/3 high
// for portrait.
QSizeF webcamFrameSize(CameraShape shape, double h);

// Where the shape shows inside a frame of `size` (frame coordinates, origin at its
// bottom left): the whole frame, or for square and round the centred square whose
// side is the frame's shorter one.
QRectF visibleShapeRect(CameraShape shape, QSizeF size, bool fullSize);

// The webcam's place by default: `WEBCAM_MARGIN` from the output's right and bottom
// edges, moved right by (width - height) / 2 for square and round so that the shape
// itself keeps the margin.
QPointF defaultWebcamOrigin(CameraShape shape, QSizeF frameSize, double camWidth);

// The size steps. "-" of the menu control adds 1 (at most 2); "+" subtracts 1 (below
// 0: full size).
double sizeAfterSegment(double cameraSize, int segment);
// The wheel and keys: growing subtracts 0.2 (below 0: full size), shrinking adds 0.2
// (at most 2).
double sizeAfterStep(double cameraSize, bool grow);
// A click on the webcam: adds 1; above 2 it wraps to full size.
double sizeAfterClick(double cameraSize);

// Whether `point` (output coordinates) lies on the visible shape of a webcam framed at
// `frame`.
bool pointOnWebcam(CameraShape shape, const QRectF& frame, QPointF point);

// The resize zone: the outer band of the webcam's visible shape, an eighth of the
// shape's shorter side wide (at least 12 points). A drag that starts there resizes.
bool pointOnResizeZone(CameraShape shape, const QRectF& frame, QPointF point);

// The size step during a resize drag that started at `startSize` with the pointer
// `startDistance` from the webcam's centre and has it `distance` away now: the webcam's
// height follows the distance, in the wheel's steps of 0.2 between 0 and 2 (a drag
// never makes it full size).
double sizeAfterResize(double startSize, double startDistance, double distance);

} // namespace vistrale
