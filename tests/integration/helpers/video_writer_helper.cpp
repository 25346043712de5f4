// Writes synthetic 1080p frames into a movie.
//
// vistrale_video_writer_helper PATH
//     Frames at 30 a second until the helper is killed; prints "written N" each time
//     the writer has written 10 more.
// vistrale_video_writer_helper PATH LIMIT
//     Files may grow to LIMIT bytes only (as on a full disk). Frames as fast as the
//     writer takes them until it fails or 300 are written, then finishes and prints
//     "failures F complete C written N".

#include "platform/ffmpeg/ffmpeg_media.h"
#include "tests/support/synthetic_frames.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <sys/resource.h>
#include <thread>

using namespace vistrale;

namespace {

int untilKilled(VideoWriter& writer)
{
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t reported = 0;
    for (int i = 0;; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(i * 1000 / 30));
        writer.append(test::syntheticFrame(i), i / 30.0);
        const std::uint64_t written = writer.counts().written;
        if (written >= reported + 10) {
            reported = written;
            std::printf("written %llu\n", static_cast<unsigned long long>(written));
            std::fflush(stdout);
        }
    }
}

int untilFull(VideoWriter& writer, const std::atomic<int>& failures)
{
    for (int i = 0; i < 300 && failures == 0; ++i) {
        const FrameRef frame = test::syntheticFrame(i);
        while (!writer.append(frame, i / 30.0) && failures == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::promise<bool> closed;
    writer.finish([&closed](bool complete) { closed.set_value(complete); });
    const bool complete = closed.get_future().get();
    std::printf("failures %d complete %d written %llu\n", failures.load(), complete ? 1 : 0,
        static_cast<unsigned long long>(writer.counts().written));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s PATH [LIMIT]\n", argv[0]);
        return 2;
    }
    if (argc == 3) {
        // Writes past the limit fail with EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = std::strtoull(argv[2], nullptr, 10);
        const rlimit size{limit, limit};
        setrlimit(RLIMIT_FSIZE, &size);
    }
    FfmpegMedia media;
    VideoWriterSettings settings;
    settings.path = QString::fromLocal8Bit(argv[1]);
    std::atomic<int> failures{0};
    QString error;
    auto writer = media.createVideoWriter(
        settings, [&failures](const QString&) { ++failures; }, &error);
    if (!writer) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return argc == 3 ? untilFull(*writer, failures) : untilKilled(*writer);
}
