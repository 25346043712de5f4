#pragma once

#include <QImage>
#include <memory>

namespace vistrale {

// One picture on its way through the system: a captured window, the output frame.
// Immutable once published; shared by reference, never copied on the way.
struct FrameBuffer {
    // Premultiplied BGRA in memory (QImage::Format_ARGB32_Premultiplied on
    // little-endian machines).
    QImage image;
    // Host clock time of the picture, in seconds (Clock::now()).
    double hostTime = 0;
};

using FrameRef = std::shared_ptr<const FrameBuffer>;

} // namespace vistrale
