#pragma once

#include "platform/camera.h"
#include "platform/camera/camera_output.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vistrale {

class CameraFrameQueue;

// The camera "Vistrale Camera" on Linux: one device whose source stream stands for
// every output (a PipeWire node, a V4L2 loopback device) and whose sink queue is
// drained by a camera thread that writes each frame into the outputs with a reader.
// The control string reads "sc=1" while any output is watched.
class LinuxCameraSystem : public CameraSystem {
public:
    static constexpr quint32 DEVICE_ID = 1;
    static constexpr quint32 SOURCE_STREAM_ID = 2;
    static constexpr quint32 SINK_STREAM_ID = 3;
    // Status of a call on an unknown device or stream.
    static constexpr int BAD_OBJECT = -1;

    // `installed` answers deviceInstalled() (the loopback device's presence) and
    // `installable` deviceInstallable() (its kernel module's). While the output does
    // not change, the last frame is written again every `repeatInterval` (5 a second
    // by default), so that readers never stall.
    LinuxCameraSystem(std::vector<std::unique_ptr<CameraOutput>> outputs, std::function<bool()> installed,
        std::function<bool()> installable, int queueCapacity = 2,
        std::chrono::milliseconds repeatInterval = std::chrono::milliseconds(200));
    ~LinuxCameraSystem() override;

    std::vector<quint32> devices() override;
    QString deviceUid(quint32 device) override;
    std::vector<quint32> streams(quint32 device) override;
    bool setControlString(quint32 stream, const QString& text) override;
    std::optional<QString> controlString(quint32 stream) override;
    int copyBufferQueue(quint32 sinkStream, QueueAltered altered, std::shared_ptr<CameraSinkQueue>* queue) override;
    int startStream(quint32 device, quint32 sinkStream) override;
    int stopStream(quint32 device, quint32 sinkStream) override;
    bool deviceInstalled() override;
    bool deviceInstallable() override;

    // Any thread. Whether some output has a reader.
    bool watched() const;

private:
    std::vector<std::unique_ptr<CameraOutput>> outputs;
    std::function<bool()> installed;
    std::function<bool()> installable;
    int queueCapacity;
    std::chrono::milliseconds repeatInterval;
    std::mutex lock;
    std::shared_ptr<CameraFrameQueue> queue;
    QString writtenControl;
};

} // namespace vistrale
