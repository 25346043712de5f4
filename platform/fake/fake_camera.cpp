#include "platform/fake/fake_camera.h"

#include <QUuid>

namespace vistrale {

FakeCameraQueue::FakeCameraQueue(int capacity, CameraSystem::QueueAltered altered)
    : capacityValue(capacity)
    , altered(std::move(altered))
{
}

int FakeCameraQueue::count() const
{
    std::lock_guard guard(lock);
    return static_cast<int>(queued.size());
}

bool FakeCameraQueue::enqueue(FrameRef frame, double hostTime, bool mirrored)
{
    std::lock_guard guard(lock);
    if (static_cast<int>(queued.size()) >= capacityValue)
        return false;
    queued.push_back({frame, hostTime, mirrored});
    all.push_back({std::move(frame), hostTime, mirrored});
    return true;
}

bool FakeCameraQueue::take()
{
    {
        std::lock_guard guard(lock);
        if (queued.empty())
            return false;
        queued.erase(queued.begin());
    }
    if (altered)
        altered();
    return true;
}

std::vector<FakeCameraQueue::Entry> FakeCameraQueue::received() const
{
    std::lock_guard guard(lock);
    return all;
}

std::vector<quint32> FakeCameraSystem::devices()
{
    std::vector<quint32> ids;
    for (const Device& device : deviceList)
        ids.push_back(device.id);
    return ids;
}

QString FakeCameraSystem::deviceUid(quint32 device)
{
    for (const Device& each : deviceList)
        if (each.id == device)
            return each.uid;
    return {};
}

std::vector<quint32> FakeCameraSystem::streams(quint32 device)
{
    for (const Device& each : deviceList)
        if (each.id == device)
            return each.streams;
    return {};
}

bool FakeCameraSystem::setControlString(quint32, const QString& text)
{
    if (!control || !controlSettable)
        return false;
    writtenControl.push_back(text);
    return true;
}

std::optional<QString> FakeCameraSystem::controlString(quint32)
{
    return control;
}

int FakeCameraSystem::copyBufferQueue(quint32, QueueAltered altered, std::shared_ptr<CameraSinkQueue>* result)
{
    if (copyResult != 0)
        return copyResult;
    auto created = std::make_shared<FakeCameraQueue>(queueCapacity, std::move(altered));
    {
        std::lock_guard guard(lock);
        queue = created;
    }
    *result = created;
    return 0;
}

int FakeCameraSystem::startStream(quint32, quint32)
{
    if (beforeStart)
        beforeStart();
    ++starts;
    if (startResult == 0)
        running = true;
    return startResult;
}

int FakeCameraSystem::stopStream(quint32, quint32)
{
    ++stops;
    if (stopResult == 0)
        running = false;
    return stopResult;
}

void FakeCameraSystem::addVistraleCamera(int streamCount)
{
    Device device;
    device.id = 7;
    device.uid = QUuid(QString::fromLatin1(VISTRALE_CAMERA_UUID)).toString(QUuid::WithoutBraces).toUpper();
    for (int i = 0; i < streamCount; ++i)
        device.streams.push_back(11 + i);
    deviceList.push_back(device);
}

std::shared_ptr<FakeCameraQueue> FakeCameraSystem::lastQueue() const
{
    std::lock_guard guard(lock);
    return queue;
}

} // namespace vistrale
