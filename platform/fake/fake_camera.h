#pragma once

#include "platform/camera.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace vistrale {

// A sink queue that keeps what it was given until the test takes it.
class FakeCameraQueue : public CameraSinkQueue {
public:
    struct Entry {
        FrameRef frame;
        double hostTime;
        bool mirrored;
    };
    FakeCameraQueue(int capacity, CameraSystem::QueueAltered altered);

    int count() const override;
    int capacity() const override { return capacityValue; }
    bool enqueue(FrameRef frame, double hostTime, bool mirrored) override;

    // The camera takes the oldest frame (and calls the queue-altered callback).
    bool take();
    // Everything ever enqueued, in order.
    std::vector<Entry> received() const;

private:
    const int capacityValue;
    const CameraSystem::QueueAltered altered;
    mutable std::mutex lock;
    std::vector<Entry> queued;
    std::vector<Entry> all;
};

// A camera system whose devices, control string and results the test sets.
class FakeCameraSystem : public CameraSystem {
public:
    struct Device {
        quint32 id;
        QString uid;
        std::vector<quint32> streams;
    };

    std::vector<quint32> devices() override;
    QString deviceUid(quint32 device) override;
    std::vector<quint32> streams(quint32 device) override;
    bool setControlString(quint32 stream, const QString& text) override;
    std::optional<QString> controlString(quint32 stream) override;
    int copyBufferQueue(quint32 sinkStream, QueueAltered altered, std::shared_ptr<CameraSinkQueue>* queue) override;
    int startStream(quint32 device, quint32 sinkStream) override;
    int stopStream(quint32 device, quint32 sinkStream) override;
    bool deviceInstalled() override { return installed; }
    bool deviceInstallable() override { return installable; }

    // Adds the camera device with `streamCount` streams (ids 11, 12, ...).
    void addVistraleCamera(int streamCount = 2);

    std::vector<Device> deviceList;
    // What the source stream's control string reads; none: it has none.
    std::optional<QString> control;
    bool controlSettable = true;
    int queueCapacity = 2;
    int copyResult = 0;
    int startResult = 0;
    int stopResult = 0;
    // Installed unless a test says otherwise, so that start-up offers nothing.
    bool installed = true;
    bool installable = true;

    // Called on the caller's thread as a start begins (a test may hold it there).
    std::function<void()> beforeStart;

    // Read by the test.
    std::vector<QString> writtenControl;
    // Whether the sink runs: the last successful start or stop.
    std::atomic<bool> running{false};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::shared_ptr<FakeCameraQueue> lastQueue() const;

private:
    mutable std::mutex lock;
    std::shared_ptr<FakeCameraQueue> queue;
};

} // namespace vistrale
