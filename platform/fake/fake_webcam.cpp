#include "platform/fake/fake_webcam.h"

#include <algorithm>

namespace vistrale {

struct FakeWebcams::Stream {
    QString id;
    FrameSink frames;
    FailureSink failed;
    bool live = true;
};

class FakeWebcams::Handle : public WebcamStream {
public:
    Handle(FakeWebcams& owner, std::shared_ptr<Stream> stream)
        : owner(owner)
        , stream(std::move(stream))
    {
    }
    ~Handle() override { stop(); }
    void stop() override
    {
        std::lock_guard guard(owner.lock);
        stream->live = false;
        std::erase(owner.streams, stream);
    }

private:
    FakeWebcams& owner;
    std::shared_ptr<Stream> stream;
};

FakeWebcams::FakeWebcams(QString name)
    : backendName(std::move(name))
{
}

FakeWebcams::~FakeWebcams() = default;

std::vector<WebcamInfo> FakeWebcams::cameras()
{
    std::lock_guard guard(lock);
    return list;
}

void FakeWebcams::setCamerasChanged(CamerasChanged callback)
{
    std::lock_guard guard(lock);
    changed = std::move(callback);
}

std::unique_ptr<WebcamStream> FakeWebcams::start(const QString& id, FrameSink frames, FailureSink failed)
{
    std::unique_lock guard(lock);
    const bool listed = std::any_of(list.begin(), list.end(), [&](const WebcamInfo& info) { return info.id == id; });
    if (!listed)
        return nullptr;
    ++startCount;
    auto stream = std::make_shared<Stream>(Stream{id, std::move(frames), std::move(failed)});
    auto handle = std::make_unique<Handle>(*this, stream);
    const auto failure = startFailures.find(id);
    if (failure == startFailures.end()) {
        streams.push_back(stream);
        return handle;
    }
    const WebcamFailure kind = failure->second;
    startFailures.erase(failure);
    stream->live = false;
    guard.unlock();
    stream->failed(kind, QStringLiteral("fake start failure"));
    return handle;
}

void FakeWebcams::addCamera(const WebcamInfo& camera)
{
    CamerasChanged callback;
    {
        std::lock_guard guard(lock);
        if (isVistraleOwnCamera(camera.name) || isVistraleOwnCamera(camera.id))
            return;
        list.push_back(camera);
        callback = changed;
    }
    if (callback)
        callback();
}

void FakeWebcams::removeCamera(const QString& id)
{
    fail(id, WebcamFailure::Gone, QStringLiteral("unplugged"));
    CamerasChanged callback;
    {
        std::lock_guard guard(lock);
        const auto removed = std::erase_if(list, [&](const WebcamInfo& info) { return info.id == id; });
        if (removed == 0)
            return;
        callback = changed;
    }
    if (callback)
        callback();
}

void FakeWebcams::failNextStart(const QString& id, WebcamFailure failure)
{
    std::lock_guard guard(lock);
    startFailures[id] = failure;
}

int FakeWebcams::pushFrame(const QString& id, FrameRef frame)
{
    std::vector<std::shared_ptr<Stream>> targets;
    {
        std::lock_guard guard(lock);
        for (const auto& stream : streams) {
            if (stream->id == id && stream->live)
                targets.push_back(stream);
        }
    }
    for (const auto& stream : targets)
        stream->frames(frame);
    return static_cast<int>(targets.size());
}

int FakeWebcams::fail(const QString& id, WebcamFailure failure, const QString& detail)
{
    std::vector<std::shared_ptr<Stream>> targets;
    {
        std::lock_guard guard(lock);
        for (const auto& stream : streams) {
            if (stream->id == id && stream->live) {
                stream->live = false;
                targets.push_back(stream);
            }
        }
        std::erase_if(streams, [](const auto& stream) { return !stream->live; });
    }
    for (const auto& stream : targets)
        stream->failed(failure, detail);
    return static_cast<int>(targets.size());
}

int FakeWebcams::running(const QString& id) const
{
    std::lock_guard guard(lock);
    return static_cast<int>(
        std::count_if(streams.begin(), streams.end(), [&](const auto& stream) { return stream->id == id; }));
}

int FakeWebcams::starts() const
{
    std::lock_guard guard(lock);
    return startCount;
}

} // namespace vistrale
