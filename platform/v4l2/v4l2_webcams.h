#pragma once

#include "platform/webcam.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace vistrale {

// The webcams among the kernel's video devices: every `video<N>` device that
// captures video by streaming in YUYV or MJPEG, but Vistrale's own (its loopback
// device is labelled "Vistrale Camera"). A camera's name is the device's card name;
// its id is its link under v4l/by-id in the device folder when it has one (stable
// across runs and ports), else its path. A device this user may not open is still
// listed, under its kernel name, so that starting it reports "denied".
//
// A thread of its own ("webcam hotplug") follows the device folder (inotify) and
// tells of cameras plugged in and out. Each stream runs on a capture thread of its
// own ("webcam capture"), which reads the device by memory-mapped streaming at up
// to 1280 × 720 and 30 frames a second (the largest size at 24 frames a second or
// more first, YUYV before MJPEG at equal size).
class V4L2Webcams : public Webcams {
public:
    // `deviceDir` is the folder of device nodes. `devices`: fixed device paths read
    // instead of scanning the folder, with no following (for programs whose devices
    // no folder lists, as under the pw-v4l2 wrapper). Main thread; lists at once.
    explicit V4L2Webcams(QString deviceDir = QStringLiteral("/dev"), QStringList devices = {});
    // Main thread, after every stream it started was destroyed.
    ~V4L2Webcams() override;
    V4L2Webcams(const V4L2Webcams&) = delete;
    V4L2Webcams& operator=(const V4L2Webcams&) = delete;

    QString backend() const override { return QStringLiteral("v4l2"); }
    std::vector<WebcamInfo> cameras() override;
    void setCamerasChanged(CamerasChanged changed) override;
    std::unique_ptr<WebcamStream> start(const QString& id, FrameSink frames, FailureSink failed) override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

} // namespace vistrale
