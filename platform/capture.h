#pragma once

#include "platform/frame.h"

#include <QSize>
#include <QString>
#include <functional>
#include <memory>

namespace vistrale {

// Live pictures of one window or of the whole display.
// Frames are delivered on the capture thread; the sink must not block.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Main thread. Takes effect from the next frame on.
    virtual void reconfigure(QSize pointSize) = 0;
    // Main thread. No frame is delivered after it returns.
    virtual void stop() = 0;
    // Main thread. The frame stamped `hostTime` is in the output now, so the stream may
    // deliver its next change at once instead of after its interval.
    virtual void frameShown(double hostTime) = 0;
};

class CaptureService {
public:
    using FrameSink = std::function<void(FrameRef frame)>;
    // Called once, on the capture thread, when the stream dies on its own.
    using ErrorSink = std::function<void(const QString& error)>;

    virtual ~CaptureService() = default;
    // Main thread. A stream of one window's pictures at `pointSize`, at most 30 a
    // second, delivered only when the window changed. Null when it cannot start.
    virtual std::unique_ptr<CaptureStream> startWindow(
        qint64 windowNumber, QSize pointSize, FrameSink frames, ErrorSink errors)
        = 0;
    // Main thread. A stream of one display without any window of this process.
    virtual std::unique_ptr<CaptureStream> startDisplay(
        quint32 displayId, QSize pointSize, FrameSink frames, ErrorSink errors)
        = 0;
};

} // namespace vistrale
