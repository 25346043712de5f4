#pragma once

#include "platform/frame.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vistrale {

// The camera's queue of frames, while its sink stream runs. The camera takes frames
// from it on a thread of its own and writes each into the buffers its clients read.
class CameraSinkQueue {
public:
    virtual ~CameraSinkQueue() = default;
    // Any thread.
    virtual int count() const = 0;
    virtual int capacity() const = 0;
    // Output-frame or frame-clock thread. The queue holds the reference until the
    // camera wrote the frame, time-stamped `hostTime` (Clock::now()), into its
    // buffers, flipped left to right when `mirrored`; a frame of another size is
    // scaled to the camera's. False, and nothing is queued, when the queue is full.
    virtual bool enqueue(FrameRef frame, double hostTime, bool mirrored) = 0;
};

// The camera device "Vistrale Camera" as other applications see it. The device has
// a source stream that clients read, whose control string reads "sc=1" while a
// client watches, and a sink stream that this process feeds. Identifiers are
// small numbers that stay valid for the run.
class CameraSystem {
public:
    // Called on the camera's thread each time it took a frame from the queue.
    using QueueAltered = std::function<void()>;

    virtual ~CameraSystem() = default;
    // Main thread. The devices this system offers, and each one's unique identifier
    // (an upper-case UUID text).
    virtual std::vector<quint32> devices() = 0;
    virtual QString deviceUid(quint32 device) = 0;
    // Main thread. The device's streams: the source first, the sink second.
    virtual std::vector<quint32> streams(quint32 device) = 0;
    // Main thread. Writes the stream's control string; false when it has none or
    // it cannot be set.
    virtual bool setControlString(quint32 stream, const QString& text) = 0;
    // Main thread. The stream's control string; none when the stream has none.
    virtual std::optional<QString> controlString(quint32 stream) = 0;
    // Any thread. The sink stream's queue, shared with the caller; `altered` is
    // kept until the queue is dropped. Zero on success, else the failure's status.
    virtual int copyBufferQueue(quint32 sinkStream, QueueAltered altered, std::shared_ptr<CameraSinkQueue>* queue) = 0;
    // Any thread. Start and stop the sink; zero on success, else the status.
    virtual int startStream(quint32 device, quint32 sinkStream) = 0;
    virtual int stopStream(quint32 device, quint32 sinkStream) = 0;
    // Main thread. Whether the camera for applications that read V4L2 devices is
    // installed (the kernel's loopback device labelled "Vistrale Camera"). The
    // camera published through PipeWire needs no installation.
    virtual bool deviceInstalled() = 0;
    // Main thread. Whether that device can be installed here: its kernel module is
    // present. Without it only the PipeWire camera exists, and offering to install
    // the other would only end in an error.
    virtual bool deviceInstallable() = 0;
};

// The identifier of the device "Vistrale Camera".
inline const char* const VISTRALE_CAMERA_UUID = "97bcbf9c-71be-44b8-ae2c-eccd3c539368";
inline const char* const VISTRALE_CAMERA_NAME = "Vistrale Camera";

} // namespace vistrale
