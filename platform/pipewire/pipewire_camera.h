#pragma once

#include "platform/camera/camera_output.h"

#include <QSize>
#include <QString>
#include <memory>

namespace vistrale {

// The camera as a PipeWire video source node ("Vistrale Camera", node name
// "vistrale-camera") that applications list and read like any camera. The node is
// published for the whole run, readers or not; frames are converted only while one
// reads. The node drives its own graph: each written frame goes out at once.
//
// A PipeWire loop thread of its own ("vistrale-pw") handles the daemon. When the
// daemon is absent or goes away, the camera logs one line, counts as not watched
// and tries again every 2 seconds until the daemon is back, then publishes the node
// again.
class PipeWireCamera : public CameraOutput {
public:
    // Node name of the published camera; readers may target it by this name.
    static constexpr const char* NODE_NAME = "vistrale-camera";

    // `remote` names the daemon's socket: a name inside the runtime folder, or an
    // absolute path; empty for PipeWire's default (PIPEWIRE_REMOTE, else
    // "pipewire-0" in PIPEWIRE_RUNTIME_DIR or XDG_RUNTIME_DIR). `size` is the picture
    // the node offers. Any thread; returns without waiting for the daemon.
    explicit PipeWireCamera(QString remote = {}, QSize size = QSize(1920, 1080));
    // Any thread but the camera thread while it writes. Withdraws the node.
    ~PipeWireCamera() override;
    PipeWireCamera(const PipeWireCamera&) = delete;
    PipeWireCamera& operator=(const PipeWireCamera&) = delete;

    QString name() const override;
    // Any thread. True while a reader is linked and the stream runs with a format.
    bool watched() const override;
    // Camera thread. Converts the frame into a free buffer of the negotiated format
    // and sends it; false, at once, when nobody reads or no buffer is free. Buffers
    // keep their pictures, so of a numbered output frame only the rows that changed
    // since the buffer was last written are converted.
    bool write(const FrameBuffer& frame, double hostTime, bool mirrored) override;

    // Any thread. True while the node is published on a running daemon.
    bool published() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace vistrale
