#pragma once

#include "platform/media.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

namespace vistrale {

// H.264 (libx264) in fragmented MPEG-4 or QuickTime files. Frames are converted from
// BGRA to 4:2:0 with BT.601 coefficients, and tagged so, on the encoder's thread.
class FfmpegVideoWriter : public VideoWriter {
public:
    // Main thread. Null and `error` set when the file or the encoder cannot be opened.
    static std::unique_ptr<FfmpegVideoWriter> open(const VideoWriterSettings& settings, Failure failed, QString* error);
    ~FfmpegVideoWriter() override;

    bool append(FrameRef frame, double seconds) override;
    void finish(Finished done) override;
    VideoWriterCounts counts() const override;

private:
    struct Queued {
        FrameRef frame;
        std::int64_t ticks;
    };

    FfmpegVideoWriter(const VideoWriterSettings& settings, Failure failed);
    bool openEncoder(QString* error);
    void run();
    bool encode(const Queued& item);
    bool convert(const QImage& image);
    // Sends a frame (null: the end) and writes every packet the encoder gives back.
    bool send(AVFrame* frame);
    void fail(const QString& error);
    void close();

    const VideoWriterSettings settings;
    const Failure failed;
    AVFormatContext* output = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    // A frame of another size, scaled to the movie's before conversion.
    std::vector<std::uint8_t> scaled;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<Queued> queue;
    std::int64_t lastTicks = -1;
    bool finishing = false;
    Finished done;
    std::atomic<bool> broken{false};
    std::atomic<std::uint64_t> offered{0};
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> dropped{0};
    std::thread worker;
};

} // namespace vistrale
