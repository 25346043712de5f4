#include "platform/camera/linux_camera_system.h"

#include "platform/log.h"

#include <QUuid>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <optional>
#include <thread>

namespace vistrale {

// The sink's queue and the camera thread that drains it. The thread runs between
// start() and stop(); frames queued before start() wait for it.
//
// The output is drawn only when something on it changes, so while nothing does the
// thread writes the last frame again every `repeatInterval`: readers such as video
// call encoders need frames to keep going (a new participant's first picture, a key
// frame on request). Repeats go to watched outputs only and leave the queue alone.
class CameraFrameQueue : public CameraSinkQueue {
public:
    CameraFrameQueue(int capacity, CameraSystem::QueueAltered altered,
        const std::vector<std::unique_ptr<CameraOutput>>& outputs, std::chrono::milliseconds repeatInterval)
        : capacityValue(capacity)
        , altered(std::move(altered))
        , outputs(outputs)
        , repeatInterval(repeatInterval)
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
        std::optional<Pending> last;
        std::chrono::steady_clock::time_point lastWritten;
        for (;;) {
            Pending next;
            bool repeat = false;
            {
                std::unique_lock guard(lock);
                const auto ready = [this] { return stopping || !pending.empty(); };
                if (last)
                    repeat = !wake.wait_for(guard, repeatInterval, ready);
                else
                    wake.wait(guard, ready);
                if (stopping)
                    return;
                if (!repeat)
                    next = pending.front();
            }
            if (repeat) {
                // The last picture again, stamped with the time that passed since.
                next = *last;
                next.hostTime += std::chrono::duration<double>(std::chrono::steady_clock::now() - lastWritten).count();
                writeToWatched(next);
                continue;
            }
            writeToWatched(next);
            last = next;
            lastWritten = std::chrono::steady_clock::now();
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

    void writeToWatched(const Pending& frame)
    {
        for (const auto& output : outputs) {
            if (output->watched())
                output->write(*frame.frame, frame.hostTime, frame.mirrored);
        }
    }

    const int capacityValue;
    const CameraSystem::QueueAltered altered;
    const std::vector<std::unique_ptr<CameraOutput>>& outputs;
    const std::chrono::milliseconds repeatInterval;
    mutable std::mutex lock;
    std::condition_variable wake;
    std::deque<Pending> pending;
    bool stopping = false;
    std::mutex threadLock;
    std::thread worker;
};

LinuxCameraSystem::LinuxCameraSystem(std::vector<std::unique_ptr<CameraOutput>> outputs,
    std::function<bool()> installed, std::function<bool()> installable, int queueCapacity,
    std::chrono::milliseconds repeatInterval)
    : outputs(std::move(outputs))
    , installed(std::move(installed))
    , installable(std::move(installable))
    , queueCapacity(std::max(1, queueCapacity))
    , repeatInterval(repeatInterval)
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
    auto created = std::make_shared<CameraFrameQueue>(queueCapacity, std::move(altered), outputs, repeatInterval);
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
