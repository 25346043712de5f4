#pragma once

#include "platform/capture.h"

#include <QString>

namespace vistrale::x11 {

// Live capture streams of the X server named by `displayName` (":N"): windows through
// Composite named pixmaps, the display through the root, both woken by XDamage and read
// through MIT-SHM, at most 30 frames a second. Every stream runs on a thread of its own
// with an xcb connection of its own. Main thread.
class X11CaptureService : public CaptureService {
public:
    explicit X11CaptureService(QString displayName);

    // The frame (decorations included) of the client window `windowNumber`, at its real
    // size. Null, with a log line, when the window or its frame does not exist.
    std::unique_ptr<CaptureStream> startWindow(
        qint64 windowNumber, QSize pointSize, FrameSink frames, ErrorSink errors) override;
    // Monitor `displayId` (from 1, the main one first), with this process's windows
    // replaced by what lies beneath them.
    std::unique_ptr<CaptureStream> startDisplay(
        quint32 displayId, QSize pointSize, FrameSink frames, ErrorSink errors) override;

private:
    QString display;
};

} // namespace vistrale::x11
