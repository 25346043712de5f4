#pragma once

#include <QImage>
#include <memory>
#include <optional>

namespace vistrale {

// One picture on its way through the system: a captured window, the output frame.
// Immutable once published; shared by reference, never copied on the way.
struct FrameBuffer {
    // Premultiplied BGRA in memory (QImage::Format_ARGB32_Premultiplied on
    // little-endian machines).
    QImage image;
    // Host clock time of the picture, in seconds (Clock::now()).
    double hostTime = 0;
    // For output frames: the pixels (top-left origin) that differ from the previous
    // output frame, so that viewers repaint only those. Unknown (all of them) when
    // not set.
    std::optional<QRect> changed;
    // For output frames: their number, counting from 1 for each compositor, so that a
    // consumer can tell whether `changed` is relative to the frame it saw last. 0 when
    // not numbered.
    quint64 sequence = 0;
};

using FrameRef = std::shared_ptr<const FrameBuffer>;

} // namespace vistrale
