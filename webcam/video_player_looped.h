#pragma once

#include "platform/video_file.h"

#include <QImage>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vistrale {

// One picture of a playing video: its planes when the video has them (converted where
// they are drawn), else an RGB32 image.
struct VideoPicture {
    QImage image;
    PlanarPictureRef planar;
};

// Plays a video without sound in an endless loop. A worker thread decodes the pictures
// at the video's own rate and starts again at the first one when the video ends; each
// picture goes to the picture sink on the main thread. When the main thread falls
// behind, only the newest picture waits (older ones are dropped, never queued).
class VideoPlayerLooped : public QObject {
public:
    using PictureSink = std::function<void(const VideoPicture& picture)>;

    // Main thread. Takes the opened file and starts playing at once.
    VideoPlayerLooped(std::unique_ptr<VideoFile> file, PictureSink sink);
    // Main thread. Stops and joins the worker; no picture reaches the sink afterwards.
    ~VideoPlayerLooped() override;

    // Pictures handed to the sink, and times the video started over. Any thread.
    quint64 picturesShown() const { return shown.load(); }
    quint64 loops() const { return loopCount.load(); }

private:
    void run();
    void publish(VideoPicture picture);
    void deliver();

    std::unique_ptr<VideoFile> file;
    PictureSink sink;
    std::thread worker;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::optional<VideoPicture> latest;
    bool posted = false;

    std::atomic<quint64> shown{0};
    std::atomic<quint64> loopCount{0};
};

} // namespace vistrale
