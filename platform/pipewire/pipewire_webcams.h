#pragma once

#include "platform/webcam.h"

#include <QString>
#include <memory>

namespace vistrale {

// The webcams of a PipeWire session: every `Video/Source` node (cameras from the
// session manager's V4L2 and libcamera monitors, and any other program's video
// source) but Vistrale's own. A camera's id is its node name (the session manager
// derives it from the device, so it stays the same across runs), with "#" and the
// object serial appended when two nodes share a name; its name is the node's
// description, else its nick, else its node name.
//
// A PipeWire loop thread of its own ("vistrale-webcam") watches the node list and
// runs the streams: it is the capture thread and the service thread of Webcams.
// When the daemon goes away the list empties, running streams fail with "gone",
// and a new connection is tried every 2 seconds.
class PipeWireWebcams : public Webcams {
public:
    // `remote` names the daemon's socket as PipeWireCamera's does (empty: the
    // default). Main thread. Connects and waits up to a second for the first list.
    explicit PipeWireWebcams(QString remote = {});
    // Main thread, after every stream it started was destroyed.
    ~PipeWireWebcams() override;
    PipeWireWebcams(const PipeWireWebcams&) = delete;
    PipeWireWebcams& operator=(const PipeWireWebcams&) = delete;

    // Whether a daemon answered when this was made.
    bool connected() const;

    QString backend() const override { return QStringLiteral("pipewire"); }
    std::vector<WebcamInfo> cameras() override;
    void setCamerasChanged(CamerasChanged changed) override;
    // Reads the node through a stream of its own, in BGRx, BGRA, YUY2, I420, NV12
    // or MJPEG at up to 1280 × 720 and 30 frames a second (sizes near 720p at 24
    // frames a second or more first, uncompressed before MJPEG). A node removed
    // while it runs fails the stream with "gone".
    std::unique_ptr<WebcamStream> start(const QString& id, FrameSink frames, FailureSink failed) override;

    struct Impl;
    struct Capture;

private:
    std::unique_ptr<Impl> impl;
};

} // namespace vistrale
