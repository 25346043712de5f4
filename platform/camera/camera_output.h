#pragma once

#include "platform/frame.h"

#include <QString>

namespace vistrale {

// One way the camera reaches other applications (a PipeWire node, a V4L2 loopback
// device). Several may run at once; the camera counts as watched while any has a
// reader, and each frame goes to every output that has one.
class CameraOutput {
public:
    virtual ~CameraOutput() = default;
    // Short name for log lines ("pipewire", "v4l2").
    virtual QString name() const = 0;
    // Any thread. True while at least one reader takes frames.
    virtual bool watched() const = 0;
    // Camera thread. Writes the frame into the readers' buffers, converted to the
    // negotiated format, scaled to the camera's size when it differs, flipped left
    // to right when `mirrored` (while writing, not as a pass of its own). Returns
    // false when the frame could not be written (no reader, no free buffer).
    virtual bool write(const FrameBuffer& frame, double hostTime, bool mirrored) = 0;
};

} // namespace vistrale
