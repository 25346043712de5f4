#pragma once

#include "platform/frame.h"
#include "platform/webcam/webcam_pixels.h"

#include <QSize>

namespace vistrale {

// Brings webcam pictures to the size they are shown at, so that drawing them costs a
// plain copy: scaled (bilinear) to fill `box` while keeping their aspect, and flipped
// left to right when mirrored. One per stream, used on its capture thread.
class WebcamFrameFitter {
public:
    // The picture for a box of `box` points; `frame` itself when nothing needs doing.
    FrameRef fit(const FrameRef& frame, QSize box, bool mirrored);

private:
    WebcamFramePool pool;
    WebcamFramePool scratch;
};

// The size a picture of `picture` takes when it fills `box` keeping its aspect.
QSize aspectFillSize(QSize picture, QSize box);

} // namespace vistrale
