#pragma once

#include "platform/frame.h"
#include "platform/webcam/webcam_pixels.h"

#include <QSize>
#include <mutex>
#include <vector>

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

// A stream's pictures converted for the core at the size they are shown at: the box
// comes from the main thread, the pictures on the capture thread. Pictures are only
// ever made smaller here; a larger box leaves them at the camera's size.
class WebcamPictureConverter {
public:
    // Any thread. Empty: the camera's size.
    void fitTo(QSize box);
    // Capture thread. The converted picture, or null with `fault` set.
    std::shared_ptr<FrameBuffer> convert(
        WebcamPixelFormat format, QSize size, const WebcamPlanes& in, WebcamPictureFault& fault);

private:
    std::mutex lock;
    QSize box;
    WebcamFramePool pool;
    std::vector<uint8_t> scratch;
};

} // namespace vistrale
