// Writes synthetic 1080p frames at 30 a second into a movie until it is killed, and
// prints "written N" each time the writer has written 10 more frames.
// Usage: vistrale_video_writer_helper PATH

#include "platform/ffmpeg/ffmpeg_media.h"
#include "tests/support/synthetic_frames.h"

#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH\n", argv[0]);
        return 2;
    }
    vistrale::FfmpegMedia media;
    vistrale::VideoWriterSettings settings;
    settings.path = QString::fromLocal8Bit(argv[1]);
    QString error;
    auto writer = media.createVideoWriter(settings, nullptr, &error);
    if (!writer) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t reported = 0;
    for (int i = 0;; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(i * 1000 / 30));
        writer->append(vistrale::test::syntheticFrame(i), i / 30.0);
        const std::uint64_t written = writer->counts().written;
        if (written >= reported + 10) {
            reported = written;
            std::printf("written %llu\n", static_cast<unsigned long long>(written));
            std::fflush(stdout);
        }
    }
}
