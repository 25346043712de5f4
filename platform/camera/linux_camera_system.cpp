#include "platform/camera/linux_camera_system.h"

#include "platform/log.h"

#include <QUuid>
#include <condition_variable>
#include <deque>
#include <thread>

namespace vistrale {

// The sink's queue and the camera thread that drains it. The thread runs between
// start() and stop(); frames queued before start() wait for it.
class CameraFrameQueue : public CameraSinkQueue {
public:
    CameraFrameQueue(
        int capacity, CameraSystem::QueueAltered altered, const std::vector<std::unique_ptr<CameraOutput>>& outputs)
        : capacityValue(capacity)
        , altered(std::move(altered))
        , outputs(outputs)
    {
    }
    ~CameraFrameQueue() override { stop(); }

    int count() const override
    {
        std::lock_guard guard(lock);
        return static_cast<int>(pending.size());
    }
    int capacity() const override { return capacityValue; }

    bool enqueue(FrameRef frame, double hostTime, bool mirrored) override
    {
        if (!frame)
            return false;
        {
            std::lock_guard guard(lock);
            if (static_cast<int>(pending.size()) >= capacityValue)
                return false;
            pending.push_back({std::move(frame), hostTime, mirrored});
        }
        wake.notify_one();
        return true;
    }

    void start()
    {
        std::lock_guard guard(threadLock);
        if (worker.joinable())
            return;
        {
            std::lock_guard state(lock);
            stopping = false;
        }
        worker = std::thread([this] { run(); });
    }

    void stop()
    {
        std::lock_guard guard(threadLock);
        if (!worker.joinable())
            return;
        {
            std::lock_guard state(lock);
            stopping = true;
            pending.clear();
        }
        wake.notify_one();
        worker.join();
    }

private:
    struct Pending {
        FrameRef frame;
        double hostTime;
        bool mirrored;
    };

    void run()
    {
        for (;;) {
            Pending next;
            {
                std::unique_lock guard(lock);
                wake.wait(guard, [this] { return stopping || !pending.empty(); });
                if (stopping)
                    return;
                next = pending.front();
            }
            for (const auto& output : outputs) {
                if (output->watched())
                    output->write(*next.frame, next.hostTime, next.mirrored);
            }
            {
                // The frame leaves the queue only once written, so a full queue means the
                // camera has not caught up yet.
                std::lock_guard guard(lock);
                if (!pending.empty())
                    pending.pop_front();
            }
            if (altered)
                altered();
        }
    }

    const int capacityValue;
    const CameraSystem::QueueAltered altered;
    const std::vector<std::unique_ptr<CameraOutput>>& outputs;
    mutable std::mutex lock;
    std::condition_variable wake;
    std::deque<Pending> pending;
    bool stopping = false;
    std::mutex threadLock;
    std::thread worker;
};

LinuxCameraSystem::LinuxCameraSystem(std::vector<std::unique_ptr<CameraOutput>> outputs,
    std::function<bool()> installed, std::function<bool()> installable, int queueCapacity)
    : outputs(std::move(outputs))
    , installed(std::move(installed))
    , installable(std::move(installable))
    , queueCapacity(std::max(1, queueCapacity))
{
}

LinuxCameraSystem::~LinuxCameraSystem()
{
    std::shared_ptr<CameraFrameQueue> current;
    {
        std::lock_guard guard(lock);
        current = std::move(queue);
    }
    if (current)
        current->stop();
}

std::vector<quint32> LinuxCameraSystem::devices()
{
    return {DEVICE_ID};
}

QString LinuxCameraSystem::deviceUid(quint32 device)
{
    if (device != DEVICE_ID)
        return {};
    return QUuid(QString::fromLatin1(VISTRALE_CAMERA_UUID)).toString(QUuid::WithoutBraces).toUpper();
}

std::vector<quint32> LinuxCameraSystem::streams(quint32 device)
{
    if (device != DEVICE_ID)
        return {};
    return {SOURCE_STREAM_ID, SINK_STREAM_ID};
}

bool LinuxCameraSystem::setControlString(quint32 stream, const QString& text)
{
    if (stream != SOURCE_STREAM_ID)
        return false;
    std::lock_guard guard(lock);
    writtenControl = text;
    return true;
}

std::optional<QString> LinuxCameraSystem::controlString(quint32 stream)
{
    if (stream != SOURCE_STREAM_ID)
        return std::nullopt;
    return watched() ? QStringLiteral("sc=1") : QStringLiteral("sc=0");
}

bool LinuxCameraSystem::watched() const
{
    for (const auto& output : outputs) {
        if (output->watched())
            return true;
    }
    return false;
}

int LinuxCameraSystem::copyBufferQueue(
    quint32 sinkStream, QueueAltered altered, std::shared_ptr<CameraSinkQueue>* result)
{
    if (sinkStream != SINK_STREAM_ID || !result)
        return BAD_OBJECT;
    auto created = std::make_shared<CameraFrameQueue>(queueCapacity, std::move(altered), outputs);
    std::shared_ptr<CameraFrameQueue> replaced;
    {
        std::lock_guard guard(lock);
        replaced = std::exchange(queue, created);
    }
    if (replaced)
        replaced->stop();
    *result = created;
    return 0;
}

int LinuxCameraSystem::startStream(quint32 device, quint32 sinkStream)
{
    if (device != DEVICE_ID || sinkStream != SINK_STREAM_ID)
        return BAD_OBJECT;
    std::shared_ptr<CameraFrameQueue> current;
    {
        std::lock_guard guard(lock);
        current = queue;
    }
    if (!current)
        return BAD_OBJECT;
    current->start();
    return 0;
}

int LinuxCameraSystem::stopStream(quint32 device, quint32 sinkStream)
{
    if (device != DEVICE_ID || sinkStream != SINK_STREAM_ID)
        return BAD_OBJECT;
    std::shared_ptr<CameraFrameQueue> current;
    {
        std::lock_guard guard(lock);
        current = queue;
    }
    if (current)
        current->stop();
    return 0;
}

bool LinuxCameraSystem::deviceInstalled()
{
    return installed && installed();
}

bool LinuxCameraSystem::deviceInstallable()
{
    return installable && installable();
}

} // namespace vistrale
