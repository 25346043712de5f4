// The recorder's media: CPU per 1920 × 1080 frame of recording screen-like frames
// (scrolling text over a moving picture) at 30 a second (capped bit rate and constant quality), the frames offered
// against those written, and the time to merge a 60-second recording with its audio
// (audio longer than the video: copied; 0.1 s shorter: repeated, encoded again).
// Usage: bench_recorder [SECONDS per recording run, default 6]
#include "platform/ffmpeg/ffmpeg_audio_file.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "tests/support/process_cpu.h"
#include "tests/support/synthetic_frames.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

using namespace vistrale;

namespace {

constexpr int RUNS = 3;
constexpr int FRAME_RATE = 30;
// Pictures cycled through (generating one costs more than the copy being measured).
constexpr int PICTURES = 12;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct RecordingRun {
    double cpuMsPerFrame;
    double offered;
    double written;
    double dropped;
};

// Offers frames in real time for `seconds`, as the output frame path does.
RecordingRun record(const std::vector<FrameRef>& frames, const QString& path, bool limited, double seconds)
{
    FfmpegMedia media;
    VideoWriterSettings settings;
    settings.path = path;
    settings.limitBitRate = limited;
    QString error;
    auto writer = media.createVideoWriter(settings, nullptr, &error);
    if (!writer) {
        std::fprintf(stderr, "writer: %s\n", qPrintable(error));
        std::exit(1);
    }
    const double cpuBefore = test::cpuSeconds(0);
    const auto start = std::chrono::steady_clock::now();
    const int count = static_cast<int>(seconds * FRAME_RATE);
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000LL / FRAME_RATE));
        writer->append(frames[static_cast<std::size_t>(i % PICTURES)], static_cast<double>(i) / FRAME_RATE);
    }
    std::promise<void> closed;
    writer->finish([&closed](bool) { closed.set_value(); });
    closed.get_future().wait();
    const double cpu = test::cpuSeconds(0) - cpuBefore;
    const VideoWriterCounts counts = writer->counts();
    writer.reset();
    return {cpu * 1000 / std::max<double>(1, static_cast<double>(counts.written)), static_cast<double>(counts.offered),
        static_cast<double>(counts.written), static_cast<double>(counts.dropped)};
}

// A movie of `seconds` at 30 frames a second, written as fast as the encoder goes.
bool writeMovie(const QString& path, double seconds)
{
    FfmpegMedia media;
    VideoWriterSettings settings;
    settings.path = path;
    settings.limitBitRate = true;
    QString error;
    auto writer = media.createVideoWriter(settings, nullptr, &error);
    if (!writer)
        return false;
    // Few distinct pictures keep this quick; the merge copies bytes whatever they show.
    std::vector<FrameRef> frames;
    for (int i = 0; i < 4; ++i)
        frames.push_back(test::syntheticFrame(i));
    const int count = static_cast<int>(seconds * FRAME_RATE);
    for (int i = 0; i < count; ++i) {
        while (!writer->append(frames[static_cast<std::size_t>(i % 4)], static_cast<double>(i) / FRAME_RATE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::promise<bool> closed;
    writer->finish([&closed](bool complete) { closed.set_value(complete); });
    return closed.get_future().get();
}

// A 440 Hz tone of `seconds`.
bool writeTone(const QString& path, double seconds)
{
    AacFileWriter file;
    QString error;
    if (!file.open(path, &error))
        return false;
    const int total = static_cast<int>(seconds * AacFileWriter::SAMPLE_RATE);
    std::vector<std::int16_t> samples(2048);
    for (int done = 0; done < total;) {
        const int n = std::min(1024, total - done);
        for (int i = 0; i < n; ++i)
            samples[2 * i] = samples[2 * i + 1]
                = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * (done + i) / AacFileWriter::SAMPLE_RATE));
        if (!file.write(samples.data(), n, &error))
            return false;
        done += n;
    }
    return file.close(&error);
}

double mergeMs(const MergeRequest& request)
{
    FfmpegMedia media;
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        QString error;
        if (!media.merge(request, &error)) {
            std::fprintf(stderr, "merge: %s\n", qPrintable(error));
            std::exit(1);
        }
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return median(times);
}

// Screen-like content: the moving synthetic picture with 60 lines of text scrolling
// a line a frame, as in a terminal that prints.
FrameRef screenLike(int index)
{
    QImage picture = test::syntheticPicture(index);
    QPainter painter(&picture);
    painter.setPen(Qt::black);
    painter.setFont(QFont("DejaVu Sans Mono", 11));
    for (int line = 0; line < 60; ++line)
        painter.drawText(20, 16 + line * 17,
            QString("%1  vistrale recording line %2: the quick brown fox jumps over the lazy dog 0123456789")
                .arg(line + index, 5)
                .arg((line + index) * 7919 % 100000));
    painter.end();
    return std::make_shared<const FrameBuffer>(FrameBuffer{picture, 0});
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 6;
    QTemporaryDir folder;
    std::vector<FrameRef> frames;
    for (int i = 0; i < PICTURES; ++i)
        frames.push_back(screenLike(i));

    std::printf("recording 1920x1080 at %d fps, %.0f s per run, median of %d runs\n", FRAME_RATE, seconds, RUNS);
    for (bool limited : {true, false}) {
        std::vector<double> cpu, offered, written, dropped;
        for (int run = 0; run < RUNS; ++run) {
            const RecordingRun r = record(frames, folder.filePath("bench.mp4"), limited, seconds);
            cpu.push_back(r.cpuMsPerFrame);
            offered.push_back(r.offered);
            written.push_back(r.written);
            dropped.push_back(r.dropped);
        }
        std::printf("  %-28s CPU %.2f ms/frame (%.0f %% of a core), offered %.0f, written %.0f, dropped %.0f\n",
            limited ? "MP4 capped at 1300000 bit/s:" : "constant quality:", median(cpu), median(cpu) * FRAME_RATE / 10,
            median(offered), median(written), median(dropped));
    }

    const QString video = folder.filePath("video.mp4");
    const QString longer = folder.filePath("longer.m4a");
    const QString shorter = folder.filePath("shorter.m4a");
    if (!writeMovie(video, 60) || !writeTone(longer, 61) || !writeTone(shorter, 59.9)) {
        std::fprintf(stderr, "cannot write the 60-second recording\n");
        return 1;
    }
    const double copied = mergeMs({video, longer, folder.filePath("copied.mp4"), false});
    const double repeated = mergeMs({video, shorter, folder.filePath("repeated.mp4"), false});
    const double alone = mergeMs({video, {}, folder.filePath("alone.mp4"), false});
    std::printf("merging a 60 s recording (%.1f MB of video), median of 5:\n", QFileInfo(video).size() / 1e6);
    std::printf("  video alone %.0f ms, audio copied %.0f ms, audio 0.1 s short (encoded again) %.0f ms (%.1fx)\n",
        alone, copied, repeated, repeated / std::max(copied, 0.001));
    return 0;
}
