#include "webcam/video_player_looped.h"

#include "platform/log.h"

#include <array>
#include <chrono>
#include <pthread.h>

namespace vistrale {

VideoPlayerLooped::VideoPlayerLooped(std::unique_ptr<VideoFile> file, PictureSink sink)
    : file(std::move(file))
    , sink(std::move(sink))
{
    worker = std::thread([this] { run(); });
}

VideoPlayerLooped::~VideoPlayerLooped()
{
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
}

void VideoPlayerLooped::run()
{
    pthread_setname_np(pthread_self(), "backdrop-video");
    using Clock = std::chrono::steady_clock;
    const auto interval
        = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / file->frameRate()));
    // A few buffers in turn: one is decoded into while the scene and the compositor
    // still hold the ones before it. A buffer nobody else holds is reused as it is.
    std::array<QImage, 4> buffers;
    const bool planar = file->planarPictures();
    std::size_t next = 0;
    bool rewound = false;
    auto due = Clock::now();
    for (;;) {
        QImage* buffer = &buffers[next];
        for (QImage& candidate : buffers) {
            if (candidate.isNull() || candidate.isDetached()) {
                buffer = &candidate;
                break;
            }
        }
        next = (next + 1) % buffers.size();
        {
            std::lock_guard guard(lock);
            if (stopping)
                return;
        }
        VideoPicture picture;
        const bool read = planar ? (picture.planar = file->readPlanarPicture()) != nullptr : file->readPicture(*buffer);
        if (!read) {
            // The end: start over, unless the video has no picture right after its start.
            if (rewound || !file->rewind()) {
                logLine("background video stopped");
                return;
            }
            rewound = true;
            ++loopCount;
            continue;
        }
        rewound = false;
        {
            std::unique_lock guard(lock);
            if (wake.wait_until(guard, due, [this] { return stopping; }))
                return;
        }
        if (!planar)
            picture.image = *buffer;
        publish(std::move(picture));
        due += interval;
        // After a stall (a busy machine, a suspended process) play on from now instead of
        // rushing through the pictures that fell due meanwhile.
        const auto now = Clock::now();
        if (now - due > std::chrono::milliseconds(250))
            due = now;
    }
}

void VideoPlayerLooped::publish(VideoPicture picture)
{
    {
        std::lock_guard guard(lock);
        latest = std::move(picture);
        if (posted)
            return;
        posted = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { deliver(); }, Qt::QueuedConnection);
}

void VideoPlayerLooped::deliver()
{
    std::optional<VideoPicture> picture;
    {
        std::lock_guard guard(lock);
        picture = std::move(latest);
        latest.reset();
        posted = false;
    }
    if (!picture)
        return;
    ++shown;
    sink(*picture);
}

} // namespace vistrale
